// Program folders: the log and the trace beside the executable when its folder can be
// written, else in the user's data folder; the help text from the installed data folder,
// else from beside the executable. Temporary folders only; the user's data folder is moved
// into one of them (XDG_DATA_HOME).
#include "ProgramFolders.h"

#include "TestPrinters.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ProgramFolders : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Root.isValid());
        qputenv("XDG_DATA_HOME", Root.filePath(QStringLiteral("data")).toLocal8Bit());
        ASSERT_TRUE(QDir(Root.path()).mkpath(ProgramFolder));
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }

    QString Touch(const QString& path)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        return path;
    }

    QTemporaryDir Root;
    const QString ProgramFolder = Root.filePath(QStringLiteral("usr/bin"));
    const QString DataFolder = Root.filePath(QStringLiteral("data/OrvelBinLoader"));
};

TEST_F(ProgramFolders, WritesBesideTheExecutableWhenItsFolderIsWritable)
{
    const auto writable = [](const QString&) { return true; };
    EXPECT_EQ(WritableFolder(ProgramFolder, writable), ProgramFolder);
    EXPECT_FALSE(QFileInfo::exists(DataFolder));
}

TEST_F(ProgramFolders, WritesToTheUsersDataFolderOtherwise)
{
    QString asked;
    const auto readOnly = [&asked](const QString& folder) {
        asked = folder;
        return false;
    };
    EXPECT_EQ(WritableFolder(ProgramFolder, readOnly), DataFolder);
    EXPECT_EQ(asked, ProgramFolder);
    EXPECT_TRUE(QFileInfo(DataFolder).isDir());                       // created
    EXPECT_EQ(WritableFolder(ProgramFolder, readOnly), DataFolder);   // and found again
}

// Root may write into /usr/bin, yet an installed program keeps its files in the data folder:
// only a copy outside the system's prefixes writes beside itself. The folders are only
// named; nothing is written to them.
struct TWhereCase {
    const char* name;
    const char* programFolder;
    bool writable;
    bool beside;   // else the data folder
};

class WhereFilesGo : public ProgramFolders, public testing::WithParamInterface<TWhereCase> {};

TEST_P(WhereFilesGo, BesideOnlyOutsideTheSystemsPrefixes)
{
    const TWhereCase& c = GetParam();
    const QString folder = QString::fromLatin1(c.programFolder);
    const auto writable = [&c](const QString&) { return c.writable; };
    EXPECT_EQ(WritableFolder(folder, writable), c.beside ? folder : DataFolder);
}

INSTANTIATE_TEST_SUITE_P(Folders, WhereFilesGo,
                         testing::Values(TWhereCase{"UsrBin", "/usr/bin", true, false},
                                         TWhereCase{"UsrLocalBin", "/usr/local/bin", true, false},
                                         TWhereCase{"Opt", "/opt/orvelbinloader/bin", true, false},
                                         TWhereCase{"PrefixItself", "/usr", true, false},
                                         TWhereCase{"SpeltRoundAbout", "/home/op/../../usr/./bin/", true, false},
                                         TWhereCase{"UnpackedCopy", "/home/op/OrvelBinLoader", true, true},
                                         TWhereCase{"UnpackedReadOnly", "/home/op/OrvelBinLoader", false, false},
                                         TWhereCase{"NameOnlyStartsLikeAPrefix", "/usr2/bin", true, true},
                                         TWhereCase{"BuildFolder", "/home/op/src/build/bin", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The prefix this build installs to counts as the system's too, wherever it is.
TEST_F(ProgramFolders, InstallPrefixIsTheSystems)
{
    const QStringList prefixes = SystemPrefixes();
    ASSERT_FALSE(prefixes.isEmpty());
    const QString bin = QDir(prefixes.last()).filePath(QStringLiteral("bin"));
    EXPECT_TRUE(InSystemPrefix(bin));
    EXPECT_TRUE(InSystemPrefix(Root.filePath(QStringLiteral("opt/bin")), {Root.filePath(QStringLiteral("opt"))}));
    EXPECT_FALSE(InSystemPrefix(ProgramFolder, {Root.filePath(QStringLiteral("opt"))}));
}

// What the file system says agrees with whether a file can be made there, also for root,
// who may write into a folder without write permission.
TEST_F(ProgramFolders, WritableAsTheFileSystemSays)
{
    const QString readOnly = Root.filePath(QStringLiteral("read-only"));
    ASSERT_TRUE(QDir().mkpath(readOnly));
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    const QString file = Touch(Root.filePath(QStringLiteral("a-file")));

    for (const QString& folder : {ProgramFolder, readOnly}) {
        QFile probe(QDir(folder).filePath(QStringLiteral("probe")));
        const bool canWrite = probe.open(QIODevice::WriteOnly);
        probe.remove();
        EXPECT_EQ(IsFolderWritable(folder), canWrite) << folder.toStdString();
    }
    EXPECT_TRUE(IsFolderWritable(ProgramFolder));
    EXPECT_FALSE(IsFolderWritable(Root.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(IsFolderWritable(file));
}

// A build or an unpacked copy keeps its files beside the executable, as it always has.
TEST_F(ProgramFolders, ExecutablesFolderWhenWritable)
{
    const QString folder = QCoreApplication::applicationDirPath();
    if (!IsFolderWritable(folder))
        GTEST_SKIP() << "this user cannot write into " << folder.toStdString();
    EXPECT_EQ(WritableProgramFolder(), folder);
}

struct THelpCase {
    const char* name;
    bool installed;   // share/orvelbinloader/Readme.txt beside bin/
    bool beside;      // bin/Readme.txt
    const char* found;
};

class HelpFile : public ProgramFolders, public testing::WithParamInterface<THelpCase> {};

TEST_P(HelpFile, InstalledDataFolderFirst)
{
    const THelpCase& c = GetParam();
    if (c.installed)
        Touch(Root.filePath(QStringLiteral("usr/share/orvelbinloader/Readme.txt")));
    if (c.beside)
        Touch(Root.filePath(QStringLiteral("usr/bin/Readme.txt")));
    EXPECT_EQ(ProgramDataFile(ProgramFolder, QStringLiteral("Readme.txt")),
              Root.filePath(QString::fromLatin1(c.found)));
}

INSTANTIATE_TEST_SUITE_P(Folders, HelpFile,
                         testing::Values(THelpCase{"Installed", true, false, "usr/share/orvelbinloader/Readme.txt"},
                                         THelpCase{"Both", true, true, "usr/share/orvelbinloader/Readme.txt"},
                                         THelpCase{"BesideTheExecutable", false, true, "usr/bin/Readme.txt"},
                                         THelpCase{"Neither", false, false, "usr/bin/Readme.txt"}),
                         [](const auto& info) { return std::string(info.param.name); });

}   // namespace
