#include "extlib/projects/project_attributes.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/net_folder_fixture.h"
#include "extlib/projects/project_data.h"
#include "support/small_installation.h"

namespace dovrane::extlib {
namespace {

// First column of the first row of sql, on a connection of its own.
std::string RawQuery(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out = "<error>";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) ==
      SQLITE_OK) {
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      int rc = sqlite3_step(st);
      if (rc == SQLITE_ROW) out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      if (rc == SQLITE_DONE) out = "";
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

class ProjectAttributesTest : public NetFolderTest {
 protected:
  std::string DbFile() { return net_ + "/PelomarProjectDB/ProjectAttributes.db"; }
  void CreateDatabase() {
    RX_ProjectAttributes attrs(kSlotNet);  // closed again before any fork
    ASSERT_EQ(attrs.open(), 0);
  }
  // Runs body in a child process that holds the database's write lock from the
  // first byte it sends on `ready` until it reads a byte from `release`.
  pid_t LockingChild(int ready, int release) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    sqlite3* db = nullptr;
    char byte = 'L';
    bool ok = sqlite3_open(DbFile().c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK &&
              ::write(ready, &byte, 1) == 1 && ::read(release, &byte, 1) == 1;
    ::usleep(300 * 1000);  // the parent is waiting in its busy handler meanwhile
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    ::_exit(ok ? 0 : 1);
  }
  static int ExitCode(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(ProjectAttributesTest, DatabaseUsesRollbackJournalEvenAfterWal) {
  platform::MakeDirectories(net_ + "/PelomarProjectDB");
  ASSERT_EQ(RawQuery(DbFile(), "PRAGMA journal_mode=WAL"), "wal");  // left so by another program
  RX_ProjectAttributes attrs(kSlotNet);
  ASSERT_EQ(attrs.setAttribute(12, "PRJ_CLIENT", "x"), 0);
  EXPECT_EQ(RawQuery(DbFile(), "PRAGMA journal_mode"), "delete");
  EXPECT_FALSE(Exists(DbFile() + "-wal"));
  EXPECT_FALSE(Exists(DbFile() + "-journal"));  // no transaction left open
  EXPECT_EQ(RawQuery(DbFile(), "PRAGMA user_version"), "1");
}

TEST_F(ProjectAttributesTest, ValuesRoundTrip) {
  RX_ProjectAttributes attrs(kSlotNet);
  const std::pair<std::string, std::string> cases[] = {
      {"PRJ_CLIENT", "M\xFCller"}, {"EMPTY", ""}, {"BIN", std::string("a\0b", 3)},
      {"NOTE", "two\nlines"}, {"LONG", std::string(kMaxAttributeValueBytes, 'v')}};
  for (const auto& [name, value] : cases) {
    ASSERT_EQ(attrs.setAttribute(4294967295u, name, value), 0) << name;
    std::string back;
    ASSERT_EQ(attrs.getAttribute(4294967295u, name, &back), 0);
    EXPECT_EQ(back, value);
  }
  std::string back;
  EXPECT_EQ(attrs.getAttribute(4294967295u, "MISSING", &back), -ENOENT);
  EXPECT_EQ(attrs.getAttribute(7, "PRJ_CLIENT", &back), -ENOENT);
  EXPECT_EQ(attrs.setAttribute(1, "bad name", "x"), -EINVAL);
  EXPECT_EQ(attrs.setAttribute(1, "BIG", std::string(kMaxAttributeValueBytes + 1, 'v')), -EINVAL);
}

TEST_F(ProjectAttributesTest, DeleteAndCopyTouchOnlyTheirProjects) {
  RX_ProjectAttributes attrs(kSlotNet);
  ASSERT_EQ(attrs.replaceProjectAttributes(1, {{"A", "1"}, {"B", "2"}}, "test"), 0);
  ASSERT_EQ(attrs.replaceProjectAttributes(2, {{"A", "other"}, {"OLD", "x"}}, "test"), 0);
  ASSERT_EQ(attrs.replaceProjectAttributes(3, {{"C", "3"}}, "test"), 0);
  EXPECT_EQ(attrs.copyProjectAttributes(1, 2), 2);
  EXPECT_EQ(attrs.copyProjectAttributes(1, 1), 0);
  AttributeValues values;
  ASSERT_EQ(attrs.getProjectAttributes(2, &values), 0);
  EXPECT_EQ(values, (AttributeValues{{"A", "1"}, {"B", "2"}}));  // "OLD" replaced away
  EXPECT_EQ(attrs.deleteAttributesByProject(1), 2);
  EXPECT_EQ(attrs.deleteAttributesByProject(1), 0);
  std::set<uint32_t> numbers;
  ASSERT_EQ(attrs.projectNumbers(&numbers), 0);
  EXPECT_EQ(numbers, (std::set<uint32_t>{2, 3}));
}

TEST_F(ProjectAttributesTest, CopyIntoSecondDatabase) {
  platform::MakeDirectories(root_ + "/LAPTOP/cad/Net");
  RX_ProjectAttributes source(kSlotNet);
  ASSERT_GT(source.ensurePreDefinedAttributes(0), 0);
  ASSERT_EQ(source.defineAttribute({"OFFICE_CODE", false, "K", "Office code"}), 0);
  ASSERT_EQ(source.replaceProjectAttributes(1, {{"A", "new"}, {"B", "b"}}, "s"), 0);
  ASSERT_EQ(source.replaceProjectAttributes(2, {{"A", "two"}}, "s"), 0);
  struct Case { int what; bool replace; int copied; std::string a; size_t definitions; };
  const Case cases[] = {{kCopyForCheckout, true, 2, "new", 7},
                        {kCopyForCheckout, false, 1, "old", 7},
                        {kCopyValues, true, 2, "new", 0},
                        {kCopyValues | kCopyPredefined, true, 2, "new", 6}};
  for (const Case& c : cases) {
    std::filesystem::remove_all(root_ + "/LAPTOP/cad/Net/PelomarProjectDB");
    lfinipC(DefaultContext(), kSlotNet, "\\\\LAPTOP\\cad\\Net\\");
    RX_ProjectAttributes target(kSlotNet);
    lfinipC(DefaultContext(), kSlotNet, "\\\\SRV1\\cad\\Net\\");
    ASSERT_EQ(target.setAttribute(1, "A", "old"), 0);
    EXPECT_EQ(source.copyProjectAttributes(target, c.what, c.replace, {1, 9}), c.copied);
    std::string a;
    EXPECT_EQ(target.getAttribute(1, "A", &a), 0);
    EXPECT_EQ(a, c.a);
    EXPECT_EQ(target.getAttribute(2, "A", &a), -ENOENT);  // not in the set
    std::vector<AttributeDefinition> definitions;
    ASSERT_EQ(target.getDefinitions(&definitions), 0);
    EXPECT_EQ(definitions.size(), c.definitions) << c.what;
  }
  RX_ProjectAttributes target(kSlotNet);
  EXPECT_EQ(source.copyProjectAttributes(target, 0x8, true, {1}), -EINVAL);
}

TEST_F(ProjectAttributesTest, PredefinedAttributesAreEnsuredNotOverwritten) {
  RX_ProjectAttributes attrs(kSlotNet);
  auto scale = [&attrs] {
    std::vector<AttributeDefinition> definitions;
    EXPECT_EQ(attrs.getDefinitions(&definitions), 0);
    for (const AttributeDefinition& d : definitions)
      if (d.name == "PRJ_SCALE") return d.default_value;
    return std::string("<none>");
  };
  const int count = static_cast<int>(PredefinedAttributes().size());
  EXPECT_EQ(attrs.ensurePreDefinedAttributes(0), count);
  ASSERT_EQ(attrs.defineAttribute({"PRJ_SCALE", true, "1:50", "Changed by the office"}), 0);
  EXPECT_EQ(attrs.ensurePreDefinedAttributes(0), count);
  EXPECT_EQ(scale(), "1:50");
  EXPECT_EQ(attrs.ensurePreDefinedAttributes(kResetPredefined), count);
  EXPECT_EQ(scale(), "1:100");
}

TEST_F(ProjectAttributesTest, CompressShrinksTheFileAndKeepsData) {
  RX_ProjectAttributes attrs(kSlotNet);
  AttributeValues bulk;
  for (int i = 0; i < 500; ++i) bulk["N" + std::to_string(i)] = std::string(1000, 'x');
  ASSERT_EQ(attrs.replaceProjectAttributes(1, bulk, "bulk"), 0);
  ASSERT_EQ(attrs.setAttribute(2, "KEEP", "me"), 0);
  ASSERT_EQ(attrs.deleteAttributesByProject(1), 500);
  auto before = std::filesystem::file_size(DbFile());
  ASSERT_EQ(attrs.compressDatabase(), 0);
  EXPECT_LT(std::filesystem::file_size(DbFile()) * 4, before);
  std::string value;
  EXPECT_EQ(attrs.getAttribute(2, "KEEP", &value), 0);
}

TEST_F(ProjectAttributesTest, UnusableDatabasesAreRefusedUntouched) {
  platform::MakeDirectories(net_ + "/PelomarProjectDB");
  const std::string junk(4096, 'j');
  ASSERT_EQ(platform::WriteFileAtomic(DbFile(), junk), 0);
  RX_ProjectAttributes damaged(kSlotNet);
  EXPECT_EQ(damaged.setAttribute(1, "A", "x"), -EBADMSG);
  EXPECT_EQ(Read(DbFile()), junk);
  EXPECT_EQ(messages_.texts.size(), 1u);
  std::filesystem::remove(DbFile());
  ASSERT_EQ(RawQuery(DbFile(), "PRAGMA user_version=7"), "");
  EXPECT_EQ(RX_ProjectAttributes(kSlotNet).open(), -EPROTO);  // a newer program's layout
  lfinipC(DefaultContext(), kSlotNet, "\\\\SRV1\\cad\\Missing\\");
  EXPECT_EQ(RX_ProjectAttributes(kSlotNet).open(), -ENOENT);
  lfinipC(DefaultContext(), kSlotNet, "");
  EXPECT_EQ(RX_ProjectAttributes(kSlotNet).open(), -EINVAL);
}

TEST_F(ProjectAttributesTest, ObjectStaysWithTheFolderItWasBuiltFor) {
  RX_ProjectAttributes network(kSlotNet);
  platform::MakeDirectories(root_ + "/LAPTOP/cad/Net");
  lfinipC(DefaultContext(), kSlotNet, "\\\\LAPTOP\\cad\\Net\\");
  ASSERT_EQ(InitTree(DefaultContext()), 0);  // creates the copy's database
  ASSERT_EQ(network.setAttribute(5, "A", "network"), 0);
  RX_ProjectAttributes copy(kSlotNet);
  std::string value;
  EXPECT_EQ(copy.getAttribute(5, "A", &value), -ENOENT);
  EXPECT_TRUE(Exists(root_ + "/LAPTOP/cad/Net/PelomarProjectDB/ProjectAttributes.db"));
  EXPECT_TRUE(Exists(DbFile()));
}

TEST_F(ProjectAttributesTest, TwoProcessesWriteAtOnce) {
  CreateDatabase();
  pid_t child = ::fork();
  if (child == 0) {
    RX_ProjectAttributes attrs(kSlotNet);
    int failures = 0;
    for (int i = 0; i < 100; ++i) failures += attrs.setAttribute(1, "C" + std::to_string(i), "c") != 0;
    ::_exit(failures == 0 ? 0 : 1);
  }
  RX_ProjectAttributes attrs(kSlotNet);
  int failures = 0;
  for (int i = 0; i < 100; ++i) failures += attrs.setAttribute(2, "P" + std::to_string(i), "p") != 0;
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(ExitCode(child), 0);
  AttributeValues one, two;
  ASSERT_EQ(attrs.getProjectAttributes(1, &one), 0);
  ASSERT_EQ(attrs.getProjectAttributes(2, &two), 0);
  EXPECT_EQ(one.size() + two.size(), 200u);
}

TEST_F(ProjectAttributesTest, WriterWaitsForLockButNotForever) {
  CreateDatabase();
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t child = LockingChild(ready[1], release[0]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);  // the child holds the lock now
  RX_ProjectAttributes impatient(kSlotNet);
  impatient.setBusyTimeout(50);
  EXPECT_EQ(impatient.setAttribute(1, "A", "early"), -EBUSY);
  ASSERT_EQ(::write(release[1], "R", 1), 1);  // the child lets go after 300 ms
  RX_ProjectAttributes patient(kSlotNet);
  EXPECT_EQ(patient.setAttribute(1, "A", "late"), 0);
  EXPECT_EQ(ExitCode(child), 0);
  std::string value;
  EXPECT_EQ(patient.getAttribute(1, "A", &value), 0);
  EXPECT_EQ(value, "late");
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

TEST_F(ProjectAttributesTest, DiskCacheImportReplacesInOneTransaction) {
  RX_ProjectAttributes attrs(kSlotNet);
  ASSERT_EQ(attrs.replaceProjectAttributes(12, {{"A", "1"}, {"B", "2"}}, "s"), 0);
  const std::string cache = project_ + "/attributes.cache";
  RX_ProjectAttributesCache& caches = RX_ProjectAttributesCache::instance();
  ASSERT_EQ(caches.exportToDiskCacheFile(12, cache, attrs), 0);
  EXPECT_EQ(caches.importFromDiskCacheFile(DefaultContext(), 40, cache, attrs), 0);  // a re-registered number
  AttributeValues values;
  ASSERT_EQ(attrs.getProjectAttributes(40, &values), 0);
  EXPECT_EQ(values, (AttributeValues{{"A", "1"}, {"B", "2"}}));
  ASSERT_EQ(attrs.replaceProjectAttributes(12, {{"Z", "z"}}, "s"), 0);
  EXPECT_EQ(caches.importFromDiskCacheFile(DefaultContext(), 12, cache, attrs), 0);
  ASSERT_EQ(attrs.getProjectAttributes(12, &values), 0);
  EXPECT_EQ(values, (AttributeValues{{"A", "1"}, {"B", "2"}}));  // "Z" is gone
  EXPECT_EQ(caches.importFromDiskCacheFile(DefaultContext(), 12, project_ + "/none.cache", attrs), 1);
}

TEST_F(ProjectAttributesTest, FailedImportChangesNothing) {
  RX_ProjectAttributes attrs(kSlotNet);
  ASSERT_EQ(attrs.replaceProjectAttributes(12, {{"KEEP", "k"}}, "s"), 0);
  const std::string cache = project_ + "/attributes.cache";
  AttributeValues wanted = {{"NEW", "n"}};
  std::string text;
  ASSERT_EQ(FormatAttributeCache(wanted, &text), 0);
  ASSERT_EQ(platform::WriteFileAtomic(cache, text.substr(0, text.size() - 2)), 0);
  EXPECT_EQ(RX_ProjectAttributesCache::instance().importFromDiskCacheFile(DefaultContext(), 12, cache, attrs),
            -EBADMSG);
  ASSERT_EQ(platform::WriteFileAtomic(cache, text), 0);
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  attrs.close();  // no connection crosses the fork
  pid_t child = LockingChild(ready[1], release[0]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  RX_ProjectAttributes impatient(kSlotNet);
  impatient.setBusyTimeout(50);
  EXPECT_EQ(RX_ProjectAttributesCache::instance().importFromDiskCacheFile(DefaultContext(), 12, cache, impatient),
            -EBUSY);
  ASSERT_EQ(::write(release[1], "R", 1), 1);
  EXPECT_EQ(ExitCode(child), 0);
  AttributeValues values;
  ASSERT_EQ(attrs.getProjectAttributes(12, &values), 0);
  EXPECT_EQ(values, (AttributeValues{{"KEEP", "k"}}));
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

}  // namespace
}  // namespace dovrane::extlib

namespace dovrane::extlib {
namespace {

TEST(AttributeDiskCacheTest, ImportFindsTheCacheInTheProjectFolderOfTheNumber) {
  testing::SmallInstallation inst;
  inst.WriteAdministration({testing::SmallInstallation::Record("Office", 12, "SRV2")}, 12);
  inst.MakeProjectFolder("SRV2", 12);
  std::string text;
  ASSERT_EQ(FormatAttributeCache({{"Client", "Stadt Hof"}, {"Phase", "5"}}, &text), 0);
  inst.dir.Write("SRV2/cad/Prj/n0000012.prj/attributes.cache", text);
  ASSERT_EQ(InitTree(DefaultContext()), 0);
  RX_ProjectAttributes attrs(kSlotNet);
  auto& cache = RX_ProjectAttributesCache::instance();
  ASSERT_EQ(cache.importFromDiskCache(DefaultContext(), 12, attrs), 0);
  AttributeValues values;
  ASSERT_EQ(attrs.getProjectAttributes(12, &values), 0);
  EXPECT_EQ(values["Client"], "Stadt Hof");
  EXPECT_EQ(values["Phase"], "5");
  EXPECT_EQ(cache.importFromDiskCache(DefaultContext(), 13, attrs), -3);  // no such project: nothing imported
}

}  // namespace
}  // namespace dovrane::extlib
