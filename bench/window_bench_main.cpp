// The window bench: runs a 2,000-file copy, a size sum and a deletion through
// the worker with the progress window (offscreen) and prints the longest stall
// of the window thread's event loop during each, and how long Cancel takes to
// stop a running copy; then, in the whole window on a sample installation,
// the stall while a project of that many files is copied to another host
// (mark, paste, question answered) and while it is sized:
//   window_bench [files]   (default 2000 files of 64 KiB below $TMPDIR)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/project_list.h"
#include "extlib/installation/sample_installation.h"
#include "fileops/copy_engine.h"
#include "fileops/directory_delete.h"
#include "fileops/directory_size.h"
#include "platform/path_map.h"
#include "tree/measure_directory.h"
#include "tree/project_copy.h"
#include "tree/project_trees_qt.h"
#include "ui/dovrane_dlg.h"
#include "services/gui_messenger_qt.h"
#include "ui/main_window_qt.h"
#include "services/progress_run_qt.h"
#include "services/progress_window_dlg.h"
#include "ui/stall_meter_qt.h"
#include "tree/tree_transfer_qt.h"

namespace {

using dovrane::extlib::OperationContext;
namespace ui = dovrane::ui;
namespace services = dovrane::services;
namespace tree = dovrane::tree;

constexpr size_t kFileSize = 64 * 1024;

// Copies every file, as host check-out does: one engine call per file, the
// bar counted in bytes, Cancel asked between files and blocks.
int CopyFiles(OperationContext& ctx, const std::string& from, const std::string& to, int files,
              std::atomic<int>* copied = nullptr) {
  if (ctx.progress()) ctx.progress()->StartCounted(static_cast<double>(files) * kFileSize);
  for (int i = 0; i < files; ++i) {
    if (copied) copied->store(i);
    if (ctx.Cancelled()) return dovrane::extlib::kPrjInterrupted;
    std::string name = "/f" + std::to_string(i) + ".dat";
    ctx.Print("%s\n", (to + name).c_str());
    const dovrane::fileops::CopyResult copied = dovrane::fileops::CopyFileWithSplit(ctx, nullptr, from + name, to + name);
    if (!copied.ok()) return ctx.Cancelled() ? dovrane::extlib::kPrjInterrupted : -1;
    if (ctx.progress()) ctx.progress()->Advance(static_cast<double>(copied.bytes));
  }
  return 0;
}

// Runs one operation with the progress window and returns its result, with
// the longest stall and the time in milliseconds.
int Measure(services::ProgressRun& run, bool cancellable, services::Operation op, int64_t* stall_ms, int64_t* ms) {
  ui::StallMeter meter;
  QEventLoop loop;
  int result = 0;
  QObject::connect(&run, &services::ProgressRun::finished, &loop, [&](int r) {
    result = r;
    loop.quit();
  });
  QElapsedTimer clock;
  clock.start();
  meter.Start();
  run.Start("bench", cancellable, std::move(op));
  loop.exec();
  meter.Stop();
  *ms = clock.elapsed();
  *stall_ms = meter.LongestMs();
  QObject::disconnect(&run, &services::ProgressRun::finished, &loop, nullptr);
  return result;
}

// Waits in the event loop until done() or the limit.
void WaitFor(const std::function<bool()>& done, int limit_ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limit_ms) {
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

// The whole window on an installation whose project 1 holds `files` files:
// the copy to another host as the person runs it, then its size.
void MeasureProjectCommands(const std::string& base, int files) {
  namespace fs = std::filesystem;
  const std::string dir = base + "/inst";
  dovrane::extlib::SampleOptions options;
  options.hosts = 2;
  options.projects = 1;
  options.attribute_projects = 0;
  options.project_data = false;
  std::string error;
  if (dovrane::extlib::MakeSampleInstallation(dovrane::extlib::DefaultContext(), dir, options, &error) != 0) {
    std::fprintf(stderr, "window_bench: %s\n", error.c_str());
    return;
  }
  const std::string root = dovrane::extlib::AbsoluteFolder(dovrane::extlib::DefaultContext(), dir);
  setenv("DOVRANE_HKLM", (root + "/hklm.toml").c_str(), 1);
  setenv("DOVRANE_HKCU", (root + "/hkcu.toml").c_str(), 1);
  setenv("DOVRANE_UNC_ROOT", (root + "/unc").c_str(), 1);
  setenv("DOVRANE_COMPUTERNAME", "WS01", 1);
  setenv("DOVRANE_USERNAME", "admin", 1);
  dovrane::platform::PathMap::Instance().SetUncRoot(root + "/unc");
  int mode = 2;
  dovrane::extlib::PRJ record;
  if (dovrane::extlib::lzinit(dovrane::extlib::DefaultContext(), &mode, 0, 0, 0, 0, 0) != 0 ||
      dovrane::extlib::get_PrjInfo_by_number(dovrane::extlib::DefaultContext(), 1, &record) != 0) {
    std::fprintf(stderr, "window_bench: the sample installation cannot be read\n");
    return;
  }
  const std::string host = record.host, target = host == "SRV1" ? "SRV2" : "SRV1";
  const std::string folder = root + "/unc/" + host + "/cad/Prj/n0000001.prj";
  std::string block(kFileSize, 'x');
  for (int i = 0; i < files; ++i) std::ofstream(folder + "/f" + std::to_string(i) + ".dat", std::ios::binary) << block;

  ui::MainWindow window;
  ui::CDovraneDlg& dialog = window.dialog();
  QObject::connect(&window.messenger(), &services::GuiMessenger::boxShown, [](QMessageBox* box) {
    QTimer::singleShot(0, box, [box] { box->button(box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok)->click(); });
  });
  int fills = 0;
  QObject::connect(&dialog, &ui::CDovraneDlg::TreesFilled, [&] { ++fills; });
  dialog.show();
  WaitFor([&] { return fills > 0; }, 30000);
  dovrane::tree::ProjectTreeModel* model = window.trees().model();
  const QModelIndex project = model->index(0, 0, model->HostIndex(host));
  int result = -100;
  QObject::connect(&window.transfer(), &tree::TreeTransfer::finished, [&](int r) { result = r; });
  ui::StallMeter meter;
  QElapsedTimer clock;
  clock.start();
  meter.Start();
  const int before = fills;
  if (window.transfer().MarkForCopy(project) && window.transfer().PasteOnto(model->HostIndex(target)))
    WaitFor([&] { return result != -100 && fills > before; }, 600000);
  meter.Stop();
  std::printf("project copy %d files: %lld ms, result %d, longest stall %lld ms\n", files,
              static_cast<long long>(clock.elapsed()), result, static_cast<long long>(meter.LongestMs()));

  services::ProgressRun run(&dialog, &window.messenger());
  int64_t stall = 0, ms = 0;
  int64_t measured = -1;
  result = Measure(run, true, [&](OperationContext& ctx) {
    measured = dovrane::tree::MeasureDirectory(ctx, folder).files;
    return 0;
  }, &stall, &ms);
  std::printf("project size %lld files: %lld ms, result %d, longest stall %lld ms\n", static_cast<long long>(measured),
              static_cast<long long>(ms), result, static_cast<long long>(stall));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int files = argc > 1 ? std::atoi(argv[1]) : 2000;
  QApplication app(argc, argv);
  namespace fs = std::filesystem;
  fs::path base = fs::temp_directory_path() / ("dovrane_window_bench_" + std::to_string(QCoreApplication::applicationPid()));
  std::string src = (base / "src").string(), dst = (base / "dst").string(), dst2 = (base / "dst2").string();
  fs::create_directories(src);
  fs::create_directories(dst);
  fs::create_directories(dst2);
  std::string block(kFileSize, 'x');
  for (int i = 0; i < files; ++i) std::ofstream(src + "/f" + std::to_string(i) + ".dat", std::ios::binary) << block;

  services::GuiMessenger messenger;
  services::ProgressRun run(nullptr, &messenger);
  int64_t stall = 0, ms = 0;
  int rc = Measure(run, true, [&](OperationContext& ctx) { return CopyFiles(ctx, src, dst, files); }, &stall, &ms);
  std::printf("copy %d files: %lld ms, result %d, longest stall %lld ms\n", files, static_cast<long long>(ms), rc,
              static_cast<long long>(stall));
  rc = Measure(run, true, [&](OperationContext& ctx) {
    if (ctx.progress()) ctx.progress()->StartEndless();
    return static_cast<int>(dovrane::fileops::SumDirectorySize(ctx, dst, "*.*", 1) > 0);
  }, &stall, &ms);
  std::printf("size sum: %lld ms, result %d, longest stall %lld ms\n", static_cast<long long>(ms), rc,
              static_cast<long long>(stall));
  rc = Measure(run, true, [&](OperationContext& ctx) {
    if (ctx.progress()) ctx.progress()->StartEndless();
    return dovrane::fileops::DeleteDirectoryTree(ctx, nullptr, dst) ? 1 : 0;
  }, &stall, &ms);
  std::printf("deletion: %lld ms, result %d, longest stall %lld ms\n", static_cast<long long>(ms), rc,
              static_cast<long long>(stall));

  // Cancel once a tenth of a copy is done: from the press to the end of the
  // operation. (A press at a fixed time missed a copy that a fast machine had
  // finished by then, and pressed into the window of the next run.)
  QElapsedTimer pressed;
  std::atomic<int> copied{0};
  QTimer press;
  press.setInterval(1);
  QObject::connect(&press, &QTimer::timeout, [&] {
    if (copied.load() < files / 10 || !run.window()) return;
    if (auto* cancel = run.window()->findChild<QPushButton*>(QStringLiteral("cancel"))) {
      press.stop();
      pressed.start();
      cancel->click();
    }
  });
  press.start();
  rc = Measure(run, true, [&](OperationContext& ctx) {
    return CopyFiles(ctx, src, dst2, files, &copied);
  }, &stall, &ms);
  press.stop();
  long long latency = pressed.isValid() ? pressed.elapsed() : -1;
  std::printf("cancel latency: %lld ms, result %d, longest stall %lld ms\n", latency, rc,
              static_cast<long long>(stall));
  MeasureProjectCommands(base.string(), files);
  std::error_code ec;
  fs::remove_all(base, ec);
  return 0;
}
