// The message editor, the drafting commands and the user list's buttons.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QTest>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "support/ModalAnswerer.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/BrowserPage.h"
#include "ui/MainForm.h"
#include "ui/MessageEditor.h"
#include "ui/ReservationPage.h"
#include "ui/UserListPage.h"

namespace brelo {
namespace {

using test::ReadBytes;
using test::TTempDir;

class EditorTest : public ::testing::Test {
 protected:
  TTempDir dir;
  std::unique_ptr<TMainForm> form;
  TReservationBox* box = nullptr;
  void SetUp() override {
    form = std::make_unique<TMainForm>(dir.Path(), TAppSettings());
    form->show();
    form->HostComboBox->setCurrentIndex(0);
    box = &form->Model().Box;
    TMessageStore& store = form->Model().Store;
    store.BoardTable[5].Active = 1;
    store.BoardTable[5].Name = "FIVE";
    store.SaveBoards();
    form->ShowBoardList();
  }
  void TearDown() override {
    for (TMessageEditor* e : form->Editors()) {
      e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
    }
    form.reset();
  }
  int Reserve(int board, const std::string& title, const std::string& body) {
    const std::string name = box->AddReservation(board, title, "TARO");
    test::WriteBytes(box->HostFolder + name, body);
    return box->ReservationCount - 1;
  }
  TMessageEditor* Open(int i) {
    form->OpenEditor(i);
    return dynamic_cast<TMessageEditor*>(box->EditorSlots[static_cast<size_t>(i)]);
  }
};

TEST_F(EditorTest, LoadsTheEntryAndShowsRecipientsOnlyForMail) {
  const int i = Reserve(5, "title", "line1\r\nline2\r\n");
  TMessageEditor* e = Open(i);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Boards->currentText().left(7), QStringLiteral("05 FIVE"));
  EXPECT_EQ(e->Title->text(), QStringLiteral("title"));
  EXPECT_EQ(e->Memo1->toPlainText(), QStringLiteral("line1\nline2\n"));
  EXPECT_TRUE(e->ToIDsRow->isHidden());
  e->Boards->setCurrentIndex(0);  // the mailbox line, 00
  EXPECT_FALSE(e->ToIDsRow->isHidden());
  EXPECT_EQ(form->ReservationPage->StringGrid1->item(0, 0)->text(), QStringLiteral("編集中"));
  EXPECT_TRUE(TMessageEditor::Ruler().startsWith(QStringLiteral("1--------+10-------+20")));
  EXPECT_TRUE(TMessageEditor::Ruler().endsWith(QStringLiteral("+80")));
}

TEST_F(EditorTest, ASemicolonIsRefusedInTheTitle) {
  TMessageEditor* e = Open(Reserve(5, "t", "x"));
  test::TModalAnswerer answer;
  e->Title->setFocus();
  QTest::keyClicks(e->Title, "a;b");
  EXPECT_EQ(e->Title->text(), QStringLiteral("tab"));
  ASSERT_EQ(answer.texts.size(), 1);
  EXPECT_EQ(answer.texts[0], QStringLiteral("\";\"はタイトルに使用できません"));
}

TEST_F(EditorTest, ClosingWithYesWritesEverythingBack) {
  TMessageEditor* e = Open(Reserve(5, "old", "old text"));
  e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
  e->Title->setText(QStringLiteral("新しい題名"));
  e->Upload->setCurrentIndex(1);
  e->Memo1->setPlainText(QStringLiteral("一行目\n二行目"));
  e->close();
  EXPECT_EQ(box->EditorSlots[0], nullptr);
  EXPECT_EQ(box->ReservationTable[0].Title, Sjis("新しい題名"));
  EXPECT_EQ(box->ReservationTable[0].Status, 1);
  EXPECT_EQ(ReadBytes(box->BodyFile(0)), Sjis("一行目\r\n二行目\r\n"));
  EXPECT_EQ(form->ReservationPage->StringGrid1->item(0, 0)->text(), QStringLiteral("保留　"));
}

TEST_F(EditorTest, NoDeletesTheReservationAndCancelKeepsTheWindow) {
  TMessageEditor* e = Open(Reserve(5, "t", "x"));
  e->AskReserve = [] { return static_cast<int>(QMessageBox::Cancel); };
  EXPECT_FALSE(e->close());
  EXPECT_EQ(box->ReservationCount, 1);
  const std::string body = box->BodyFile(0);
  e->AskReserve = [] { return static_cast<int>(QMessageBox::No); };
  EXPECT_TRUE(e->close());
  EXPECT_EQ(box->ReservationCount, 0);
  EXPECT_FALSE(FileExists(body));
}

TEST_F(EditorTest, DiscardThenNoThenTheFrameSavesWithoutAQuestion) {
  TMessageEditor* e = Open(Reserve(5, "t", "x"));
  e->AskDelete = [] { return static_cast<int>(QMessageBox::No); };
  int asked = 0;
  e->AskReserve = [&] {
    ++asked;
    return static_cast<int>(QMessageBox::Cancel);
  };
  e->SpeedButton1Click();
  e->Memo1->setPlainText(QStringLiteral("kept"));
  EXPECT_TRUE(e->close());
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(ReadBytes(box->BodyFile(0)), "kept\r\n");
  // Discard with Yes deletes the entry and closes the window.
  TMessageEditor* f = Open(0);
  f->AskDelete = [] { return static_cast<int>(QMessageBox::Yes); };
  f->SpeedButton1Click();
  EXPECT_EQ(box->ReservationCount, 0);
  EXPECT_TRUE(form->Editors().empty());
}

TEST_F(EditorTest, DeletingAnEarlierEntryMovesTheOpenEditor) {
  Reserve(5, "one", "1");
  Reserve(5, "two", "2");
  Reserve(5, "three", "3");
  TMessageEditor* e = Open(1);
  box->DeleteReservation(0);
  EXPECT_EQ(e->ReservationIndex(), 0);
  EXPECT_EQ(form->ReservationPage->StringGrid1->item(0, 0)->text(), QStringLiteral("編集中"));
  e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
  e->Title->setText(QStringLiteral("two, edited"));
  e->close();
  EXPECT_EQ(box->ReservationTable[0].Title, "two, edited");
  EXPECT_EQ(box->ReservationTable[1].Title, "three");
}

TEST_F(EditorTest, AReservationWhoseBoardIsGoneBecomesAMail) {
  TMessageEditor* e = Open(Reserve(42, "t", "x"));
  EXPECT_EQ(e->Boards->currentIndex(), -1);
  e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
  e->close();
  EXPECT_EQ(box->ReservationTable[0].BoardNo, 0);
}

TEST_F(EditorTest, TextShiftJisCannotHoldIsPointedOutAndNothingIsSaved) {
  TMessageEditor* e = Open(Reserve(5, "t", "x"));
  e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
  e->Memo1->setPlainText(QStringLiteral("絵文字😀"));
  {
    test::TModalAnswerer answer;
    EXPECT_FALSE(e->close());
    ASSERT_EQ(answer.texts.size(), 1);
    EXPECT_TRUE(answer.texts[0].contains(QStringLiteral("😀")));
  }
  EXPECT_EQ(ReadBytes(box->BodyFile(0)), "x");
  e->Memo1->setPlainText(QStringLiteral("絵文字"));
  EXPECT_TRUE(e->close());
}

// A line "//" typed into the body would end it at the host: the draft is
// saved as typed, and the user hears it at once.
TEST_F(EditorTest, SavingABodyTheHostWouldCutSaysSoAndKeepsTheText) {
  TMessageEditor* e = Open(Reserve(5, "t", ""));
  e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
  e->Memo1->setFocus();
  QTest::keyClicks(e->Memo1, "first");
  QTest::keyClick(e->Memo1, Qt::Key_Return);
  QTest::keyClicks(e->Memo1, "//");
  QTest::keyClick(e->Memo1, Qt::Key_Return);
  QTest::keyClicks(e->Memo1, "rest");
  {
    test::TModalAnswerer answer;
    QTest::mouseClick(e->SpeedButton2, Qt::LeftButton);
    ASSERT_EQ(answer.texts.size(), 1);
    EXPECT_TRUE(answer.texts[0].contains(QStringLiteral("保存しました。ただし、本文に「//」だけの行があり")))
        << answer.texts[0].toStdString();
  }
  EXPECT_EQ(box->EditorSlots[0], nullptr);
  EXPECT_EQ(ReadBytes(box->BodyFile(0)), "first\r\n//\r\nrest\r\n");
  // Written so that it goes whole: saved without a word.
  e = Open(0);
  e->AskReserve = [] { return static_cast<int>(QMessageBox::Yes); };
  e->Memo1->setFocus();
  QTest::keyClick(e->Memo1, Qt::Key_Home, Qt::ControlModifier);
  QTest::keyClick(e->Memo1, Qt::Key_Down);
  QTest::keyClick(e->Memo1, Qt::Key_End);
  QTest::keyClicks(e->Memo1, " ");
  test::TModalAnswerer answer;
  QTest::mouseClick(e->SpeedButton2, Qt::LeftButton);
  EXPECT_TRUE(answer.texts.isEmpty());
  EXPECT_EQ(ReadBytes(box->BodyFile(0)), "first\r\n// \r\nrest\r\n");
}

TEST_F(EditorTest, CancelWhileSwitchingHostsKeepsTheOldHost) {
  form->Model().Hosts.Add(1);
  form->RebuildHostSelector();
  form->HostComboBox->setCurrentIndex(0);
  TMessageEditor* e = Open(Reserve(5, "t", "x"));
  e->AskReserve = [] { return static_cast<int>(QMessageBox::Cancel); };
  form->HostComboBox->setCurrentIndex(1);
  EXPECT_EQ(form->HostComboBox->currentIndex(), 0);
  EXPECT_EQ(form->Model().Policy.CurrentHost(), 0);
  EXPECT_EQ(box->ReservationCount, 1);
}

TEST_F(EditorTest, DraftsFromTheBrowserAndTheUserList) {
  // Alt+R with nothing open does nothing.
  form->ResButtonClick();
  EXPECT_EQ(box->ReservationCount, 0);
  // A new mail with no board list shown still lands on board 0.
  form->M_MailClick();
  ASSERT_EQ(box->ReservationCount, 1);
  EXPECT_EQ(box->ReservationTable[0].BoardNo, 0);
  EXPECT_EQ(box->ReservationTable[0].Title, Sjis("[新規発言]タイトルを入れて下さい"));
  EXPECT_EQ(box->ReservationTable[0].ToIDs, Sjis("送り先のＩＤを入れてください"));
  EXPECT_NE(ReadBytes(box->BodyFile(0)).find(Sjis("どもども、Palloです(^^)")), std::string::npos);
  ASSERT_EQ(form->Editors().size(), 1u);
  // A response quotes the article and answers its number.
  TVeskoMessage m;
  m.BoardNo = 5;
  m.MesNo = 123;
  m.FromID = "TARO";
  m.FromHandle = Sjis("たろう");
  m.Title = "Hello";
  m.Text = Sjis("\r\n\r\n引用される行\r\n\r\n二行目\r\n\r\n");
  form->Model().Store.AppendMessage(m);
  form->ShowBoardList();
  form->BrowserPage->Boards->setCurrentRow(1);
  form->BrowserPage->ListBox1->setCurrentRow(0);
  {
    test::TModalAnswerer answer;  // the template dialog
    form->ResButtonClick();
  }
  ASSERT_EQ(box->ReservationCount, 2);
  EXPECT_EQ(box->ReservationTable[1].Title, "Re:123)Hello");
  EXPECT_EQ(box->ReservationTable[1].BoardNo, 5);
  EXPECT_EQ(box->ReservationTable[1].ToIDs, "TARO");
  const std::string body = ReadBytes(box->BodyFile(1));
  EXPECT_NE(body.find(Sjis("たろう(TARO)さんへのレスポンスです(^^)")), std::string::npos);
  EXPECT_NE(body.find(Sjis("> 引用される行\r\n> \r\n> 二行目\r\n")), std::string::npos);
  // The user list's mail goes to the picked user, without the dialog.
  form->Model().Users.Items = {"HANAKO    " + Sjis("はなこ") + "          98/03/01"};
  form->UserListPage->Refresh();
  form->UserListPage->ListBox2->setCurrentRow(0);
  form->UserListMailClick();
  ASSERT_EQ(box->ReservationCount, 3);
  EXPECT_EQ(box->ReservationTable[2].ToIDs, "HANAKO");
  EXPECT_EQ(box->ReservationTable[2].BoardNo, 0);
  // Reserving a fetch twice says so twice; the option is simply on.
  test::TModalAnswerer answer;
  form->UserListReserveClick();
  form->UserListReserveClick();
  EXPECT_EQ(answer.texts, (QStringList{QStringLiteral("予約しました"), QStringLiteral("予約しました")}));
  EXPECT_TRUE(form->Model().Policy.Options.GetUserList);
}

TEST_F(EditorTest, ReservationGridRows) {
  EXPECT_FALSE(form->ReservationPage->StringGrid1->isEnabled());
  EXPECT_EQ(form->ReservationPage->StringGrid1->rowCount(), 1);
  EXPECT_FALSE(form->ReservationPage->Button1->isEnabled());
  Reserve(5, "T", "body text");
  EXPECT_TRUE(form->ReservationPage->StringGrid1->isEnabled());
  EXPECT_EQ(form->ReservationPage->StringGrid1->item(0, 0)->text(), QStringLiteral("書込　"));
  EXPECT_EQ(form->ReservationPage->StringGrid1->item(0, 1)->text(), QStringLiteral("05 FIVE     メッセージボード05"));
  form->ReservationPage->StringGrid1->selectRow(0);
  Q_EMIT form->ReservationPage->StringGrid1->cellClicked(0, 0);
  EXPECT_EQ(form->ReservationPage->Memo3->toPlainText(), QStringLiteral("body text"));
  // An entry being edited cannot be deleted from the grid.
  Open(0);
  test::TModalAnswerer answer(QMessageBox::Yes);
  form->ReservationPage->Button2->click();
  EXPECT_EQ(answer.texts.value(0), QStringLiteral("編集中の為削除できません"));
  EXPECT_EQ(box->ReservationCount, 1);
}

}  // namespace
}  // namespace brelo
