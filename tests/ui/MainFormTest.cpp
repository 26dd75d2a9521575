#include "ui/MainForm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

#include "support/TempDir.h"
#include "ui/EditRouting.h"

namespace brelo {
namespace {

TEST(MainFormFrame, SizePagesAndCaptions) {
  test::TTempDir dir;
  TMainForm form(dir.Path(), TAppSettings());
  EXPECT_EQ(form.size(), QSize(640, 460));
  QTabWidget* p = form.Pages();
  ASSERT_EQ(p->count(), 6);
  const char* captions[] = {"アーティクルブラウザ", "ターミナル", "ﾀｰﾐﾅﾙ･ｵﾌﾟｼｮﾝ", "書き込み予約箱", "メモ帳", "ﾕｰｻﾞｰﾘｽﾄ"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(p->tabText(i), QString::fromUtf8(captions[i]));
  EXPECT_EQ(p->currentIndex(), 0);
  EXPECT_EQ(form.Notepad()->toPlainText(), QStringLiteral("メモ帳(^^;"));
  form.show();
  EXPECT_TRUE(form.windowTitle().contains("Brelo"));
  EXPECT_TRUE(form.windowTitle().contains("Vesko"));
  EXPECT_TRUE(form.windowTitle().contains("KTBBS"));
  EXPECT_TRUE(form.windowTitle().contains(BRELO_VERSION));
}

TEST(MainFormFrame, MenuCaptionsAndShortcuts) {
  test::TTempDir dir;
  TMainForm form(dir.Path(), TAppSettings());
  QStringList menus;
  for (QAction* a : form.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"ﾌｧｲﾙ(&F)", "編集(&E)", "設定(&I)", "ｼﾞｬﾝﾌﾟ(&J)", "ｱｸｼｮﾝ(&A)", "ﾍﾙﾌﾟ(&H)"}));
  EXPECT_EQ(form.Undo1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
  EXPECT_EQ(form.Delete1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Delete));
  EXPECT_EQ(form.K3->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Up));
  EXPECT_EQ(form.M_Res->shortcut(), QKeySequence(Qt::ALT | Qt::Key_R));
  EXPECT_EQ(form.M_New->text(), QStringLiteral("新規書き込み(&W)"));
  for (QAction* a : {form.Exit1, form.H1, form.M1, form.Q1, form.E1, form.K1, form.M_Mail, form.Readme1, form.V1}) {
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  }
}

TEST(MainFormFrame, EditMenuActsOnTheFocusedControl) {
  test::TTempDir dir;
  TMainForm form(dir.Path(), TAppSettings());
  form.show();
  QApplication::setActiveWindow(&form);
  form.Pages()->setCurrentIndex(kPageNotepad);
  QPlainTextEdit* pad = form.Notepad();
  pad->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == pad; }));
  form.SelectAll1->trigger();
  form.Cut1->trigger();
  EXPECT_EQ(pad->toPlainText(), QString());
  form.Paste1->trigger();
  form.Paste1->trigger();
  EXPECT_EQ(pad->toPlainText(), QStringLiteral("メモ帳(^^;メモ帳(^^;"));
  form.Undo1->trigger();
  EXPECT_NE(pad->toPlainText(), QStringLiteral("メモ帳(^^;メモ帳(^^;"));
}

TEST(MainFormFrame, ReadOnlyBoxTakesOnlyCopyAndSelectAll) {
  QPlainTextEdit box;
  box.setPlainText("text");
  box.setReadOnly(true);
  EXPECT_TRUE(RouteEditRequest(&box, EEditRequest::SelectAll));
  EXPECT_TRUE(RouteEditRequest(&box, EEditRequest::Copy));
  EXPECT_FALSE(RouteEditRequest(&box, EEditRequest::Cut));
  EXPECT_FALSE(RouteEditRequest(&box, EEditRequest::Delete));
  EXPECT_FALSE(RouteEditRequest(&box, EEditRequest::Paste));
  EXPECT_EQ(box.toPlainText(), "text");
  QLineEdit line("abc");
  line.selectAll();
  EXPECT_TRUE(RouteEditRequest(&line, EEditRequest::Delete));
  EXPECT_EQ(line.text(), "");
  QWidget plain;
  EXPECT_FALSE(RouteEditRequest(&plain, EEditRequest::Copy));
}

}  // namespace
}  // namespace brelo
