// Builds driven through the window: a folder chosen in the tree, "Build" clicked, the outcome
// read from the message box hook and the files on disk.

#include "GuiTestSupport.h"
#include "app/Settings.h"
#include "app/WindowLayout.h"
#include "gui/Startup.h"
#include "gui/TForm1.h"
#include "platform/Errors.h"
#include "tests/support/HeldBuild.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace vornel;
using vornel::test::MessageRecorder;
using vornel::test::ReadLines;
using vornel::test::WorkingDirectory;
using vornel::test::WriteFile;

namespace {

QStringList LinesStartingWith(const QStringList& lines, const QString& prefix) {
  QStringList found;
  for (const QString& line : lines)
    if (line.startsWith(prefix))
      found.append(line);
  return found;
}

// Every file below root, by relative path, with its bytes.
QMap<QString, QByteArray> FilesBelow(const QString& root) {
  QMap<QString, QByteArray> files;
  QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
      files.insert(QDir(root).relativeFilePath(path), file.readAll());
  }
  return files;
}

} // namespace

class WindowBuildTest : public QObject {
  Q_OBJECT

private:
  // Selects folder in the tree, clicks Build and waits for the outcome to be shown.
  static void BuildFolder(TForm1& form, const QString& folder) {
    if (!folder.isEmpty())
      QVERIFY(form.ShellTreeView1->SelectPath(folder));
    QSignalSpy finished(&form, &TForm1::buildFinished);
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY(form.BuildRunning());
    QVERIFY(!form.Button1->isEnabled());
    QVERIFY(!form.ShellTreeView1->isEnabled());
    QVERIFY(finished.wait(60000));
    QVERIFY(!form.BuildRunning());
    QVERIFY(form.Button1->isEnabled());
    QVERIFY(form.ShellTreeView1->isEnabled());
  }

private slots:
  void initTestCase() { InitialiseApplication(); }

  void buildPacksTheChosenFolderAndCountsProgress() {
    WorkingDirectory work;
    QTemporaryDir clean;
    WriteFile(clean.filePath(QStringLiteral("Teskor.exe")), "updater");
    WriteFile(clean.filePath(QStringLiteral("engine.dll")), QByteArray(5000, 'e'));
    WriteFile(clean.filePath(QStringLiteral("system/readme.txt")), "hello");

    MessageRecorder recorder;
    TForm1 form;
    QList<int> positions;
    connect(form.ProgressBar1, &QProgressBar::valueChanged, this,
            [&positions](int value) { positions.append(value); });
    BuildFolder(form, clean.path());

    QCOMPARE(recorder.Messages.size(), size_t(1));
    QCOMPARE(recorder.Messages.front().Kind, MessageKind::Plain);
    QCOMPARE(recorder.Messages.front().Caption, QString::fromUtf8(window::ApplicationName));
    QCOMPARE(recorder.Messages.front().Text, QStringLiteral("Done.3 files packed."));

    const QStringList manifest = ReadLines(work / QStringLiteral("Upload/updates.lst"));
    QCOMPARE(manifest.value(0), QStringLiteral("[self]"));
    QCOMPARE(LinesStartingWith(manifest, QStringLiteral("IAM=Teskor.exe|")).size(), 1);
    QVERIFY(manifest.contains(QStringLiteral("Server=127.0.0.1")));
    QVERIFY(manifest.contains(QStringLiteral("ModifyHost=0")));
    QVERIFY(manifest.contains(QStringLiteral("fcount=2")));
    QCOMPARE(LinesStartingWith(manifest, QStringLiteral("F")).size(), 2);
    QVERIFY(QFile::exists(work / QStringLiteral("Upload/engine.dll.zip")));
    QVERIFY(QFile::exists(work / QStringLiteral("Upload/system/readme.txt.zip")));

    // One step per archive (the self file and two more), then back to 0.
    QCOMPARE(form.ProgressBar1->maximum(), 3);
    QVERIFY(!positions.isEmpty());
    QCOMPARE(*std::max_element(positions.begin(), positions.end()), 3);
    QCOMPARE(positions.last(), 0);
    QCOMPARE(form.ProgressBar1->value(), 0);
  }

  // The window and the command line drive the same core: the same folder gives the same bytes.
  void windowBuildEqualsCommandLineBuild() {
    QTemporaryDir clean;
    WriteFile(clean.filePath(QStringLiteral("Teskor.exe")), "updater");
    WriteFile(clean.filePath(QStringLiteral("a/b/data.bin")), QByteArray(70000, 'd'));
    WriteFile(clean.filePath(QStringLiteral("a/empty.txt")), QByteArray());
    QVERIFY(QDir(clean.path()).mkpath(QStringLiteral("logs")));

    QMap<QString, QByteArray> fromWindow;
    {
      WorkingDirectory work;
      MessageRecorder recorder;
      TForm1 form;
      BuildFolder(form, clean.path());
      QCOMPARE(recorder.Messages.front().Text, QStringLiteral("Done.3 files packed."));
      fromWindow = FilesBelow(work / QStringLiteral("Upload"));
      QVERIFY(QDir(work / QStringLiteral("Upload/logs")).exists());
    }

    QTemporaryDir work;
    QProcess cli;
    cli.setWorkingDirectory(work.path());
    cli.start(QStringLiteral(VORNEL_EXE),
              {QStringLiteral("build"), QStringLiteral("--quiet"), clean.path()});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(FilesBelow(work.filePath(QStringLiteral("Upload"))), fromWindow);
    QCOMPARE(fromWindow.size(), 4); // three archives and the manifest
  }

  void treeWithoutSelfFileIsRefused() {
    WorkingDirectory work;
    QTemporaryDir clean;
    WriteFile(clean.filePath(QStringLiteral("engine.dll")), "e");

    MessageRecorder recorder;
    TForm1 form;
    BuildFolder(form, clean.path());
    QCOMPARE(recorder.Messages.size(), size_t(1));
    QCOMPARE(recorder.Messages.front().Kind, MessageKind::Plain);
    QCOMPARE(recorder.Messages.front().Text,
             QStringLiteral("Teskor.exe not found in \"clean\" directory"));
    QVERIFY(!QFile::exists(work / QStringLiteral("Upload/updates.lst")));

    // Nothing selected: the core refuses the empty folder with a message of its own.
    recorder.Messages.clear();
    TForm1 fresh;
    BuildFolder(fresh, QString());
    QCOMPARE(recorder.Messages.size(), size_t(1));
    QCOMPARE(recorder.Messages.front().Kind, MessageKind::Plain);
    QVERIFY(!recorder.Messages.front().Text.isEmpty());
    QVERIFY(!recorder.Messages.front().Text.startsWith(QStringLiteral("Done.")));
    QVERIFY(!QFile::exists(work / QStringLiteral("Upload/updates.lst")));
  }

  void treeProblemsShowTheFirstTenAndAllInDetailsAndCodePageIsReadAtEveryBuild() {
    WorkingDirectory work;
    QTemporaryDir clean;
    WriteFile(clean.filePath(QStringLiteral("Teskor.exe")), "updater");
    for (int i = 10; i < 22; ++i)
      WriteFile(clean.filePath(QStringLiteral("q?%1.txt").arg(i)), "q");

    MessageRecorder recorder;
    TForm1 form;
    BuildFolder(form, clean.path());
    QCOMPARE(recorder.Messages.size(), size_t(1));
    const QStringList lines = recorder.Messages.front().Text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines.front(), QStringLiteral("\"q?10.txt\": the name holds ?, which Windows does "
                                           "not allow in names"));
    QCOMPARE(lines.back(), QStringLiteral("and 2 more problems"));
    const QStringList all = recorder.Messages.front().Details.split(QLatin1Char('\n'));
    QCOMPARE(all.size(), 13);
    QVERIFY(all.front().startsWith(QStringLiteral("The clean folder has 12 problems;")));
    QCOMPARE(all.back(), QStringLiteral("\"q?21.txt\": the name holds ?, which Windows does not "
                                        "allow in names"));
    QVERIFY(!QDir(work / QStringLiteral("Upload")).exists());

    for (int i = 10; i < 22; ++i)
      QVERIFY(QFile::remove(clean.filePath(QStringLiteral("q?%1.txt").arg(i))));
    WriteFile(clean.filePath(QStringLiteral("caf\u00e9.txt")), "c");
    recorder.Messages.clear();
    BuildFolder(form, clean.path());
    QVERIFY(recorder.Messages.front().Text.contains(QStringLiteral("no code page is chosen")));
    WriteFile(work / QString::fromUtf8(SettingsFileName), "[main]\r\nCodePage=1252\r\n");
    recorder.Messages.clear();
    BuildFolder(form, clean.path());
    QCOMPARE(recorder.Messages.front().Text, QStringLiteral("Done.2 files packed."));
    QVERIFY(QFile::exists(work / QStringLiteral("Upload/caf\u00e9.txt.zip")));
  }

  void failingBuildShowsTheErrorBoxAndTheWindowCarriesOn() {
    WorkingDirectory work;
    // A /proc file says size 0 but reads as text: packing finds it changed and the build fails.
    WriteFile(work / QString::fromUtf8(SettingsFileName), "[main]\r\nFollowLinks=1\r\n");
    QTemporaryDir clean;
    WriteFile(clean.filePath(QStringLiteral("Teskor.exe")), "updater");
    WriteFile(clean.filePath(QStringLiteral("engine.dll")), "e");
    QVERIFY(
        QFile::link(QStringLiteral("/proc/self/status"), clean.filePath(QStringLiteral("status"))));

    MessageRecorder recorder;
    TForm1 form;
    BuildFolder(form, clean.path());
    QCOMPARE(recorder.Messages.size(), size_t(1));
    const auto& shown = recorder.Messages.front();
    QCOMPARE(shown.Kind, MessageKind::Critical);
    QCOMPARE(shown.Caption, QString::fromUtf8(window::ApplicationName));
    QVERIFY2(shown.Text.contains(QStringLiteral("changed while it was packed")),
             qPrintable(shown.Text));
    QVERIFY(!QDir(work / QStringLiteral("Upload")).exists());

    // The window is idle again and the next build, with the obstacle gone, succeeds.
    QVERIFY(QFile::remove(clean.filePath(QStringLiteral("status"))));
    recorder.Messages.clear();
    BuildFolder(form, clean.path());
    QCOMPARE(recorder.Messages.size(), size_t(1));
    QCOMPARE(recorder.Messages.front().Text, QStringLiteral("Done.2 files packed."));
  }

  void selfNameIsReadOnceServerAndModHostAtEveryBuild() {
    WorkingDirectory work;
    WriteFile(work / QString::fromUtf8(SettingsFileName),
              "[main]\r\nCustomName=Self.bin\r\nServer=first.example\r\nModHost=1\r\n");
    QTemporaryDir clean;
    WriteFile(clean.filePath(QStringLiteral("Self.bin")), "updater");
    WriteFile(clean.filePath(QStringLiteral("data.pak")), "d");

    MessageRecorder recorder;
    TForm1 form;
    QCOMPARE(form.PackerState().CustomName, std::string("Self.bin"));
    BuildFolder(form, clean.path());
    QStringList manifest = ReadLines(work / QStringLiteral("Upload/updates.lst"));
    QCOMPARE(LinesStartingWith(manifest, QStringLiteral("IAM=Self.bin|")).size(), 1);
    QVERIFY(manifest.contains(QStringLiteral("Server=first.example")));
    QVERIFY(manifest.contains(QStringLiteral("ModifyHost=1")));

    WriteFile(work / QString::fromUtf8(SettingsFileName),
              "[main]\r\nCustomName=Other.bin\r\nServer=second.example\r\nModHost=2\r\n");
    BuildFolder(form, clean.path());
    manifest = ReadLines(work / QStringLiteral("Upload/updates.lst"));
    QCOMPARE(LinesStartingWith(manifest, QStringLiteral("IAM=Self.bin|")).size(), 1);
    QVERIFY(manifest.contains(QStringLiteral("Server=second.example")));
    QVERIFY(manifest.contains(QStringLiteral("ModifyHost=2")));
    QCOMPARE(recorder.Messages.size(), size_t(2));
    QCOMPARE(recorder.Messages.back().Text, QStringLiteral("Done.2 files packed."));
  }

  void closingDuringABuildStopsItWithoutAsking() {
    WorkingDirectory work;
    QTemporaryDir clean;
    WriteFile(clean.filePath(QStringLiteral("Teskor.exe")), "updater");
    for (int i = 0; i < 20; ++i)
      WriteFile(clean.filePath(QStringLiteral("data/file%1.bin").arg(i)), QByteArray(2000, 'x'));

    MessageRecorder recorder;
    TForm1 form;
    form.show();
    QVERIFY(form.ShellTreeView1->SelectPath(clean.path()));
    QSignalSpy finished(&form, &TForm1::buildFinished);
    test::HeldBuild held([&form] { return form.StopRequested(); });
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY(form.BuildRunning());
    held.WaitUntilHeld();
    QVERIFY(form.close());

    // The close waited for the build: it is over, nothing was asked, nothing was published, and
    // the message says so.
    QVERIFY(!form.BuildRunning());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(recorder.Messages.size(), size_t(1));
    QVERIFY2(recorder.Messages.front().Text.contains(QStringLiteral("finished and kept aside")),
             qPrintable(recorder.Messages.front().Text));
    QVERIFY(!QFile::exists(work / QStringLiteral("Upload")));
    QVERIFY(QDir(work / QStringLiteral("Upload.staging")).exists());
  }
};

QTEST_MAIN(WindowBuildTest)
#include "WindowBuildTest.moc"
