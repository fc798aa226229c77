// Several programs moving and erasing different projects at the same time
// leave an administration whose every record names a folder that is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/project_list.h"
#include "platform/text_codec.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

TEST(ProjectConcurrencyTest, ParallelMovesAndErasesKeepTheAdministrationConsistent) {
  testing::SampleSite site(16);
  std::vector<std::string> hosts(17);
  for (uint32_t n = 1; n <= 16; ++n) {
    extlib::PRJ r;
    ASSERT_TRUE(site.Record(n, &r));
    hosts[n] = r.host;
  }
  extlib::lzende(extlib::DefaultContext());
  // Odd numbers move to the next host, even numbers are erased; all at once.
  std::vector<std::vector<std::string>> runs;
  std::vector<std::string> targets(17);
  for (uint32_t n = 1; n <= 16; ++n) {
    const int host = hosts[n].back() - '0';  // SRV1..SRV3
    targets[n] = "SRV" + std::to_string(host % 3 + 1);
    runs.push_back(n % 2 ? std::vector<std::string>{site.Name(n), "-move_y", targets[n]}
                         : std::vector<std::string>{site.Name(n), "-erase_y"});
  }
  std::vector<testing::ProgramResult> results(runs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < runs.size(); ++i)
    threads.emplace_back([&, i] { results[i] = site.Run(runs[i]); });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(results[i].status, 0) << runs[i][0] << results[i].err;

  int count = 0;
  extlib::PRJ* list = nullptr;
  site.Activate();
  extlib::UnCachPrjList(extlib::DefaultContext());
  ASSERT_EQ(extlib::ltbpliC_new(extlib::DefaultContext(), extlib::kSlotNet, &count, &list, 0, nullptr), 0);
  EXPECT_EQ(count, 8);
  for (int i = 0; i < count; ++i) {
    const uint32_t n = list[i].number;
    EXPECT_EQ(n % 2, 1u) << n;
    EXPECT_EQ(list[i].host, targets[n]) << n;
    EXPECT_TRUE(testing::Exists(site.ProjectDir(list[i].host, n) + "/objects.dat")) << n;
  }
  extlib::ltbpliC_delete(&list);
  // Every run left one whole line in the audit log, none cut into another.
  const std::string log = testing::ReadFile(site.NetDir() + "/dovrane.log");
  for (size_t i = 0; i < runs.size(); ++i) {
    const std::string& name = runs[i][0];
    const std::string quoted = name.find(' ') == std::string::npos ? name : "\"" + name + "\"";
    const std::string call = runs[i][1] + " " + quoted + (runs[i].size() > 2 ? " " + runs[i][2] : "");
    std::string stored;  // the log is Windows-1252, as every shared file
    ASSERT_TRUE(platform::Utf8ToCp1252(call, &stored));
    EXPECT_NE(log.find("\t" + stored + "\t0\tOK\r\n"), std::string::npos) << call;
  }
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), static_cast<long>(runs.size())) << log;
  for (uint32_t n = 1; n <= 16; ++n) {
    EXPECT_FALSE(testing::Exists(site.ProjectDir(hosts[n], n))) << n;  // moved away or erased
    if (n % 2 == 0) {
      EXPECT_FALSE(testing::Exists(site.ProjectDir(targets[n], n))) << n;
    }
  }
}

}  // namespace
}  // namespace dovrane::app
