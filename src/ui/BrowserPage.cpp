#include "ui/BrowserPage.h"

#include <QApplication>
#include <QButtonGroup>
#include <QColor>
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
#include <QStyle>
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
  if (!index.isValid() || index.row() >= browser_.RowCount()) return QVariant();
  const int r = index.row();
  // Each row shows its own state in either mode: unread rows in bold, the
  // new ones among them in colour, read ones dimmed.
  switch (role) {
    case Qt::DisplayRole: return Q(browser_.RowText(r));
    case Qt::FontRole: {
      if (!browser_.RowUnread(r)) return QVariant();
      QFont f = font_;
      f.setBold(true);
      return f;
    }
    case Qt::ForegroundRole:
      if (!browser_.RowUnread(r)) return QColor(0x70, 0x70, 0x70);
      return browser_.RowNew(r) ? QVariant(QColor(0xB0, 0x00, 0x20)) : QVariant();
    case Qt::ToolTipRole:
      return !browser_.RowUnread(r) ? QStringLiteral("既読")
             : browser_.RowNew(r)   ? QStringLiteral("未読・新着")
                                    : QStringLiteral("未読");
    default: return QVariant();
  }
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
  Articles = new TArticleListModel(browser_, ListBox1->font());
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
  connect(TopSplitter, &QSplitter::splitterMoved, this, [this] { boardWidthChosen_ = true; });

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
  browser_.OnRowsRefreshing = [this] {
    // The article at the top of the view stays there.
    const QModelIndex top = ListBox1->indexAt(QPoint(1, 1));
    topArticle_ = top.isValid() ? browser_.RowArticle(top.row()).IndexNo : -1;
  };
  browser_.OnRowsRefreshed = [this] {
    updating_ = true;
    Articles->Reset();
    ListBox1->setCurrentRow(browser_.SelectedRow);
    const int top = topArticle_ >= 0 ? browser_.RowOfIndex(topArticle_) : -1;
    if (top >= 0) ListBox1->scrollTo(Articles->index(top, 0), QAbstractItemView::PositionAtTop);
    updating_ = false;
  };
  browser_.OnArticleChanged = [this] {
    ShowArticle();
    ListBox1->viewport()->update();  // the opened row is read now
  };
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
  FitBoardPane();
}

void TBrowserPage::FitBoardPane() {
  // Until the user sets the width, the pane is wide enough for every
  // board's number, name and counts; the title gives way.
  if (boardWidthChosen_) return;
  const QFontMetrics fm(Boards->font());
  QFont bold = Boards->font();
  bold.setBold(true);
  const QFontMetrics fb(bold);
  int need = 0;
  for (int i = 0; i < Boards->count(); ++i) {
    const QString line = Boards->item(i)->text();
    const int name = line.indexOf(QLatin1Char(' '), 3);
    const QString counts = Boards->item(i)->data(kCountsRole).toString();
    need = std::max(need, fm.horizontalAdvance(name < 0 ? line : line.left(name)) + fm.horizontalAdvance(QStringLiteral("　…")) +
                              (counts.isEmpty() ? 0 : fb.horizontalAdvance(counts) + 8));
  }
  need += 2 * Boards->frameWidth() + Boards->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16;
  QList<int> sizes = TopSplitter->sizes();
  const int total = sizes.value(0) + sizes.value(1);
  if (sizes.size() != 2 || sizes[0] >= need || total <= 0) return;
  const int width = std::min(need, std::max(sizes[0], total / 2));
  TopSplitter->setSizes({width, total - width});
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
