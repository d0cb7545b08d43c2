// The window as the operator meets it: size and places of the controls, captions, tab order,
// the folder tree's behaviour, About and Quit.

#include "app/WindowLayout.h"
#include "GuiTestSupport.h"
#include "gui/Startup.h"
#include "gui/TForm1.h"

#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using namespace vornel;
using vornel::test::MessageRecorder;

class WindowLayoutTest : public QObject {
  Q_OBJECT

private:
  static QRect Scaled(const TForm1& form, const window::Place& place) {
    const double f = form.screen()->logicalDotsPerInch() / 96.0;
    const auto s = [f](int v) { return static_cast<int>(std::lround(v * f)); };
    return {s(place.X), s(place.Y), s(place.Width), s(place.Height)};
  }

private slots:
  void initTestCase() { InitialiseApplication(); }

  void windowAndControlsSitWhereLaidOut() {
    TForm1 form;
    QCOMPARE(form.size(), Scaled(form, window::ClientArea).size());
    QCOMPARE(form.minimumSize(), form.maximumSize()); // not resizable
    QCOMPARE(form.ShellTreeView1->geometry(), Scaled(form, window::TreePlace));
    QCOMPARE(form.Button1->geometry(), Scaled(form, window::BuildButtonPlace));
    QCOMPARE(form.Button2->geometry(), Scaled(form, window::AboutButtonPlace));
    QCOMPARE(form.Button3->geometry(), Scaled(form, window::QuitButtonPlace));
    QCOMPARE(form.ProgressBar1->geometry(), Scaled(form, window::ProgressPlace));

    const QRect desk = form.screen()->availableGeometry();
    QVERIFY(std::abs(form.geometry().center().x() - desk.center().x()) <= 1);
    QVERIFY(std::abs(form.geometry().center().y() - desk.center().y()) <= 1);
  }

  void captionsNamesAndWindowKind() {
    TForm1 form;
    QCOMPARE(form.windowTitle(), QString::fromUtf8(window::Caption));
    QCOMPARE(form.Button1->text(), QStringLiteral("Build"));
    QCOMPARE(form.Button2->text(), QStringLiteral("About"));
    QCOMPARE(form.Button3->text(), QStringLiteral("Quit"));
    QCOMPARE(form.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.font().pointSize(), window::FontPoints);
    QCOMPARE(form.ProgressBar1->minimum(), 0);
    QCOMPARE(form.ProgressBar1->maximum(), 100);
    QCOMPARE(form.ProgressBar1->value(), 0);
    for (const char* name : {"ShellTreeView1", "Button1", "Button2", "Button3", "ProgressBar1"})
      QVERIFY2(form.findChild<QWidget*>(QString::fromLatin1(name)) != nullptr, name);
  }

  void tabOrderRunsTreeBuildAboutQuitProgress() {
    TForm1 form;
    const QList<QWidget*> expected = {form.ShellTreeView1, form.Button1, form.Button2, form.Button3,
                                      form.ProgressBar1};
    QList<QWidget*> chain;
    for (QWidget* w = form.ShellTreeView1; chain.size() < expected.size();
         w = w->nextInFocusChain())
      if (expected.contains(w))
        chain.append(w);
    QCOMPARE(chain, expected);
  }

  void treeShowsFoldersOnlyAndStartsWithNothingSelected() {
    QTemporaryDir dir;
    vornel::test::WriteFile(dir.filePath(QStringLiteral("file.txt")), "x");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));

    TForm1 form;
    FolderTree* tree = form.ShellTreeView1;
    QCOMPARE(tree->SelectedPath(), std::string());
    QVERIFY(tree->isHeaderHidden());
    QCOMPARE(tree->indentation(), window::TreeIndent);
    QVERIFY(!tree->rootIsDecorated());
    for (int column = 1; column < tree->model()->columnCount(); ++column)
      QVERIFY(tree->isColumnHidden(column));

    // The start folder is opened up to, so it is in view.
    const QModelIndex start = tree->FileSystemModel()->index(StartFolder());
    QVERIFY(start.isValid());
    QVERIFY(tree->isExpanded(start.parent()));

    QFileSystemModel* model = tree->FileSystemModel();
    const QModelIndex parent = model->index(dir.path());
    model->fetchMore(parent);
    QTRY_COMPARE(model->rowCount(parent), 1);
    QCOMPARE(model->fileName(model->index(0, 0, parent)), QStringLiteral("sub"));
  }

  void rightClickSelectsTheFolder() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("pick")));
    const QString pick = dir.filePath(QStringLiteral("pick"));

    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    FolderTree* tree = form.ShellTreeView1;
    const QModelIndex index = tree->FileSystemModel()->index(pick);
    tree->RevealPath(pick);
    QTRY_VERIFY(tree->visualRect(index).isValid() &&
                tree->viewport()->rect().contains(tree->visualRect(index).center()));
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualRect(index).center());
    QCOMPARE(QString::fromStdString(tree->SelectedPath()), pick);
  }

  void aboutShowsThePlainVersionBox() {
    MessageRecorder recorder;
    TForm1 form;
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QCOMPARE(recorder.Messages.size(), size_t(1));
    const auto& shown = recorder.Messages.front();
    QCOMPARE(shown.Kind, MessageKind::Plain);
    QCOMPARE(shown.Caption, QString::fromUtf8(window::ApplicationName));
    QCOMPARE(shown.Text, QString::fromUtf8(window::AboutText));
  }

  void quitClosesTheWindow() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.Button3, Qt::LeftButton);
    QVERIFY(!form.isVisible());
  }

  // The window is a tool window; closing it must still end the message loop.
  void quitEndsTheMessageLoop() {
    TForm1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTimer::singleShot(0, form.Button3, &QPushButton::click);
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(2); });
    QCOMPARE(QApplication::exec(), 0);
  }
};

QTEST_MAIN(WindowLayoutTest)
#include "WindowLayoutTest.moc"
