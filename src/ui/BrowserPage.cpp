#include "ui/BrowserPage.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyledItemDelegate>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

#include "common/Sjis.h"
#include "ui/Fonts.h"
#include "ui/PickOpener.h"
#include "ui/Text.h"

namespace brelo {
namespace {
// A board line with its counts at the right: the title gives way (elided),
// the counts always show.
class TBoardCountsDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QString counts = index.data(kCountsRole).toString();
    if (counts.isEmpty()) {
      QStyledItemDelegate::paint(p, option, index);
      return;
    }
    QStyleOptionViewItem o = option;
    initStyleOption(&o, index);
    QFont bold = o.font;
    bold.setBold(counts.contains(QStringLiteral("新着")));
    const int w = QFontMetrics(bold).horizontalAdvance(counts) + 8;
    const QWidget* view = option.widget;
    QStyle* style = view != nullptr ? view->style() : QApplication::style();
    // The selection band covers the counts too.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &o, p, view);
    o.rect.setRight(o.rect.right() - w);
    o.text = o.fontMetrics.elidedText(o.text, Qt::ElideRight, o.rect.width() - 4);
    style->drawControl(QStyle::CE_ItemViewItem, &o, p, view);
    p->save();
    p->setFont(bold);
    p->setPen(option.state & QStyle::State_Selected ? option.palette.highlightedText().color()
                                                     : option.palette.text().color());
    p->drawText(QRect(option.rect.right() - w, option.rect.top(), w - 4, option.rect.height()),
                Qt::AlignRight | Qt::AlignVCenter, counts);
    p->restore();
  }
};
}  // namespace

int TArticleListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : browser_.RowCount();
}

QVariant TArticleListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= browser_.RowCount()) return QVariant();
  return Q(browser_.RowText(index.row()));
}

void TArticleListView::setCurrentRow(int row) {
  if (model() == nullptr) return;
  if (row < 0 || row >= model()->rowCount()) {
    selectionModel()->clearCurrentIndex();
    clearSelection();
    return;
  }
  const QModelIndex i = model()->index(row, 0);
  setCurrentIndex(i);
  scrollTo(i);
}

QString TArticleListView::itemText(int row) const {
  return model() ? model()->data(model()->index(row, 0), Qt::DisplayRole).toString() : QString();
}

TBrowserPage::TBrowserPage(TArticleBrowser& browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  Boards = new QListWidget;
  Boards->setObjectName(QStringLiteral("Boards"));
  Boards->setItemDelegate(new TBoardCountsDelegate(Boards));
  ListBox1 = new TArticleListView;
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setFont(FixedGothicFont(12));  // the tree cells line up only in a fixed pitch
  ListBox1->setUniformItemSizes(true);
  Articles = new TArticleListModel(browser_);
  Articles->setParent(this);
  ListBox1->setModel(Articles);
  SearchText = new QLineEdit;
  SearchText->setPlaceholderText(QStringLiteral("検索する文字列"));
  SearchButton = new QToolButton;
  SearchButton->setText(QStringLiteral("検索"));
  auto* boardsPane = new QWidget;
  auto* boardsLayout = new QVBoxLayout(boardsPane);
  boardsLayout->setContentsMargins(0, 0, 0, 0);
  boardsLayout->setSpacing(2);
  boardsLayout->addWidget(Boards, 1);
  auto* searchRow = new QHBoxLayout;
  searchRow->addWidget(SearchText, 1);
  searchRow->addWidget(SearchButton);
  boardsLayout->addLayout(searchRow);
  TopSplitter = new QSplitter(Qt::Horizontal);
  TopSplitter->addWidget(boardsPane);
  TopSplitter->addWidget(ListBox1);
  TopSplitter->setStretchFactor(1, 1);
  TopSplitter->setSizes({192, 448});

  UPButton = new QToolButton;
  UPButton->setText(QStringLiteral("▲"));
  UPButton->setAccessibleName(QStringLiteral("前のアーティクル"));
  UPButton->setToolTip(QStringLiteral("前の印の付いたアーティクル (Ctrl+↑)"));
  DOWNButton = new QToolButton;
  DOWNButton->setText(QStringLiteral("▼"));
  DOWNButton->setAccessibleName(QStringLiteral("次のアーティクル"));
  DOWNButton->setToolTip(QStringLiteral("次の印の付いたアーティクル (Ctrl+↓)"));
  NewButton = new QPushButton(QStringLiteral("新規"));
  ResButton = new QPushButton(QStringLiteral("レス"));
  Label1 = new QLabel;
  Label1->setTextFormat(Qt::PlainText);
  Label1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  NewMode = new QToolButton;
  NewMode->setText(QStringLiteral("Ｎ"));
  NewMode->setToolTip(QStringLiteral("新規アーティクルモード"));
  NewMode->setCheckable(true);
  NewMode->setChecked(true);
  MidokuMode = new QToolButton;
  MidokuMode->setText(QStringLiteral("未"));
  MidokuMode->setToolTip(QStringLiteral("未読アーティクルモード"));
  MidokuMode->setCheckable(true);
  auto* modes = new QButtonGroup(this);
  modes->setExclusive(true);
  modes->addButton(NewMode);
  modes->addButton(MidokuMode);
  auto* bar = new QWidget;
  auto* barLayout = new QHBoxLayout(bar);
  barLayout->setContentsMargins(2, 2, 2, 2);
  for (QWidget* w : std::initializer_list<QWidget*>{UPButton, DOWNButton, NewButton, ResButton, Label1, NewMode, MidokuMode}) {
    barLayout->addWidget(w);
  }
  Boards->setAccessibleName(QStringLiteral("ボード一覧"));
  ListBox1->setAccessibleName(QStringLiteral("アーティクル一覧"));
  SearchText->setAccessibleName(QStringLiteral("検索する文字列"));
  SearchButton->setAccessibleName(QStringLiteral("検索"));
  Label1->setAccessibleName(QStringLiteral("アーティクルの見出し"));
  NewMode->setAccessibleName(QStringLiteral("新規アーティクルモード"));
  MidokuMode->setAccessibleName(QStringLiteral("未読アーティクルモード"));
  Memo1 = new QPlainTextEdit;
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setAccessibleName(QStringLiteral("アーティクルの本文"));
  Memo1->setReadOnly(true);
  Memo1->setFont(FixedGothicFont(12));
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* bottom = new QWidget;
  auto* bottomLayout = new QVBoxLayout(bottom);
  bottomLayout->setContentsMargins(0, 0, 0, 0);
  bottomLayout->setSpacing(0);
  bottomLayout->addWidget(bar);
  bottomLayout->addWidget(Memo1, 1);
  MainSplitter = new QSplitter(Qt::Vertical);
  MainSplitter->addWidget(TopSplitter);
  MainSplitter->addWidget(bottom);
  MainSplitter->setSizes({170, 230});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(MainSplitter);

  browser_.DateText = [](TDateTime d) {
    const TCivilTime t = DecodeDateTime(d);
    QString s = QLocale().toString(QDate(t.year, t.month, t.day), QLocale::ShortFormat);
    if (t.hour || t.minute || t.second) s += QStringLiteral(" ") + QTime(t.hour, t.minute, t.second).toString(QStringLiteral("HH:mm:ss"));
    return QStringToSjis(s).bytes;
  };
  browser_.OnBoardsChanged = [this] { FillBoards(); };
  browser_.OnCountsChanged = [this] { FillCounts(); };
  browser_.OnBoardSelected = [this] {
    updating_ = true;
    Boards->setCurrentRow(browser_.SelectedBoard);
    updating_ = false;
  };
  browser_.OnRowsChanged = [this] { FillRows(); };
  browser_.OnRowSelected = [this] {
    updating_ = true;
    ListBox1->setCurrentRow(browser_.SelectedRow);
    updating_ = false;
  };
  browser_.OnArticleChanged = [this] { ShowArticle(); };
  browser_.OnFocusText = [this] { Memo1->setFocus(); };
  browser_.OnMessage = [this](const std::string& text, const std::string& caption) {
    QMessageBox::information(this, Q(caption), Q(text));
  };
  browser_.OnError = [this](const std::string& e) { QMessageBox::critical(this, QStringLiteral("エラー"), Q(e)); };

  new TPickOpener(Boards, [this](int row) { browser_.BoardsClick(row); }, &updating_);
  new TPickOpener(ListBox1, [this](int row) { browser_.OpenArticle(row); }, &updating_);
  connect(UPButton, &QToolButton::clicked, this, [this] { browser_.UPButtonClick(); });
  connect(DOWNButton, &QToolButton::clicked, this, [this] { browser_.DOWNButtonClick(); });
  connect(NewMode, &QToolButton::clicked, this, [this] { browser_.NewModeClick(true); });
  connect(MidokuMode, &QToolButton::clicked, this, [this] { browser_.NewModeClick(false); });
  ShowArticle();
}

void TBrowserPage::FillBoards() {
  updating_ = true;
  Boards->clear();
  for (const std::string& l : browser_.BoardLines) Boards->addItem(Q(l));
  Boards->setCurrentRow(browser_.SelectedBoard);
  updating_ = false;
  FillCounts();
}

void TBrowserPage::FillCounts() {
  for (int i = 0; i < Boards->count() && i < static_cast<int>(browser_.BoardCounts.size()); ++i) {
    const TBoardCounts& c = browser_.BoardCounts[static_cast<size_t>(i)];
    QListWidgetItem* item = Boards->item(i);
    item->setData(kCountsRole, Q(CountsText(c)));
    item->setToolTip(QStringLiteral("%1\n未読 %2 件、うち新着 %3 件").arg(item->text()).arg(c.unread).arg(c.news));
  }
  Boards->viewport()->update();
}

void TBrowserPage::FillRows() {
  updating_ = true;
  Articles->Reset();
  ListBox1->setCurrentRow(browser_.SelectedRow);
  updating_ = false;
}

void TBrowserPage::ShowArticle() {
  Label1->setText(ForTextBox(browser_.Header));
  Memo1->setPlainText(ForTextBox(browser_.Text));
  NewButton->setEnabled(browser_.NewButtonEnabled);
  ResButton->setEnabled(browser_.ResButtonEnabled);
}

}  // namespace brelo
