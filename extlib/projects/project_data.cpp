#include "extlib/projects/project_data.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <set>
#include <tuple>

#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_data_file.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace {
// The project data lock, released on every path by the destructor.
class DataLock {
 public:
  DataLock(platform::Env& env_in, const std::string& native_dir) : env_(env_in) {
    platform::Env* env = &env_;
    fd_ = env->Open(native_dir + "/" + kProjectDataLockFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      rc_ = fd_;
      return;
    }
    rc_ = env->Lock(fd_, 0, 1, platform::LockMode::kExclusive, kProjectDataLockMs);
  }
  ~DataLock() {
    if (fd_ < 0) return;
    platform::Env* env = &env_;
    if (rc_ == 0) (void)env->Lock(fd_, 0, 1, platform::LockMode::kUnlock, 0);  // the close releases it anyway
    platform::CloseNothingPending(env, fd_);
  }
  DataLock(const DataLock&) = delete;
  DataLock& operator=(const DataLock&) = delete;
  int Result() const { return rc_; }

 private:
  platform::Env& env_;
  int fd_ = -1;
  int rc_ = 0;
};

int ExistingDirectory(OperationContext& ctx, const std::string& native_dir) {
  platform::FileInfo info;
  int rc = ctx.Env().Stat(native_dir, &info);
  if (rc) return rc;
  return info.type == platform::EntryType::kDirectory ? 0 : -ENOTDIR;
}

// Native project folder of a slot, or "" when the slot is unset.
std::string SlotFolder(OperationContext& ctx, int slot) {
  std::string dir = lfinigC(ctx, slot);
  if (dir.empty()) return "";
  std::string native = ctx.Native(dir);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return native;
}

// Shows a failure once, naming the folder in its Windows form.
// what: the line of the message (the reorganisation's or the renewal's).
int Report(OperationContext& ctx, int rc, int what, const std::string& dir) {
  if (rc == 0) return 0;
  std::string reason = rc == -EBADMSG ? LanguageText(kRepairTexts, 34) : platform::ErrorName(rc);
  LibraryMessage(ctx, 1, LanguageTextWith(kRepairTexts, what, {dir, reason}));
  return rc;
}

// Reads the project data of an existing folder under its lock and lets change
// rewrite them; change's result is returned (it writes the data itself).
int ChangeLockedData(OperationContext& ctx, const std::string& native_project_dir,
                     const std::function<int(ProjectData&)>& change) {
  int rc = ExistingDirectory(ctx, native_project_dir);
  if (rc) return rc;
  DataLock lock(ctx.Env(), native_project_dir);
  if (lock.Result()) return lock.Result();
  ProjectData data;
  rc = ReadProjectData(native_project_dir, &data);
  return rc ? rc : change(data);
}

ProjectObject MakeObject(const char* type, const char* name, std::vector<Uuid> refs = {}) {
  return ProjectObject{NewRandomUuid(), type, name, false, std::move(refs)};
}
}  // namespace

int CreateProjectData(OperationContext& ctx, const std::string& native_project_dir) {
  int rc = ExistingDirectory(ctx, native_project_dir);
  if (rc) return rc;
  DataLock lock(ctx.Env(), native_project_dir);
  if (lock.Result()) return lock.Result();
  platform::FileInfo info;
  if (ctx.Env().Stat(native_project_dir + "/" + kProjectObjectsFile, &info) == 0) return -EEXIST;
  ProjectData data;
  ProjectObject drawings = MakeObject("FOLDER", "Drawings");
  ProjectObject layer = MakeObject("LAYER", "0");
  ProjectObject plan = MakeObject("VIEW", "Plan", {layer.id});
  ProjectObject project = MakeObject("PROJECT", "Project", {drawings.id, layer.id, plan.id});
  data.objects = {project, drawings, layer, plan};
  return WriteProjectData(native_project_dir, data);
}

int ReorganiseProjectData(OperationContext& ctx, const std::string& native_project_dir, ReorganiseStats* stats) {
  ReorganiseStats local;
  if (!stats) stats = &local;
  *stats = {};
  return ChangeLockedData(ctx, native_project_dir, [&](ProjectData& data) {
    stats->index_was_stale = CheckProjectIndex(native_project_dir) != 0;

    ProjectData kept;
    std::set<Uuid> alive;
    for (ProjectObject& o : data.objects) {
      if (o.deleted) {
        ++stats->objects_dropped;
        continue;
      }
      alive.insert(o.id);
      kept.objects.push_back(std::move(o));
    }
    for (ProjectObject& o : kept.objects) {
      std::set<Uuid> seen;
      std::vector<Uuid> refs;
      for (const Uuid& ref : o.refs)
        if (alive.count(ref) && seen.insert(ref).second) refs.push_back(ref);
      stats->references_dropped += o.refs.size() - refs.size();
      o.refs = std::move(refs);
    }
    std::stable_sort(kept.objects.begin(), kept.objects.end(),
                     [](const ProjectObject& a, const ProjectObject& b) {
                       return std::tie(a.type, a.name, a.id) < std::tie(b.type, b.name, b.id);
                     });
    return WriteProjectData(native_project_dir, kept);
  });
}

int RenewProjectUuids(OperationContext& ctx, const std::string& native_project_dir, std::map<Uuid, Uuid>* mapping) {
  return ChangeLockedData(ctx, native_project_dir, [&](ProjectData& data) {
    std::map<Uuid, Uuid> renewed;
    std::set<Uuid> used;
    for (const ProjectObject& o : data.objects) used.insert(o.id);
    for (const ProjectObject& o : data.objects) {
      Uuid fresh;
      do fresh = NewRandomUuid();
      while (!used.insert(fresh).second);  // never reuse an old or new identifier
      renewed[o.id] = fresh;
    }
    for (ProjectObject& o : data.objects) {
      o.id = renewed[o.id];
      std::vector<Uuid> refs;
      for (const Uuid& ref : o.refs) {
        auto it = renewed.find(ref);
        if (it != renewed.end()) refs.push_back(it->second);
      }
      o.refs = std::move(refs);
    }
    int rc = WriteProjectData(native_project_dir, data);
    if (rc == 0 && mapping) *mapping = std::move(renewed);
    return rc;
  });
}

int kpvtad2(OperationContext& ctx, int slot) {
  std::string dir = SlotFolder(ctx, slot);
  if (dir.empty()) return -EINVAL;
  return Report(ctx, ReorganiseProjectData(ctx, dir, nullptr), 32, lfinigC(ctx, slot));
}

int ztbReplaceUUIDs(OperationContext& ctx, int slot) {
  std::string dir = SlotFolder(ctx, slot);
  if (dir.empty()) return -EINVAL;
  return Report(ctx, RenewProjectUuids(ctx, dir, nullptr), 33, lfinigC(ctx, slot));
}

int InitTree(OperationContext& ctx) {
  RX_ProjectAttributes attributes(ctx, kSlotNet);
  int rc = attributes.ensurePreDefinedAttributes(0);
  return rc > 0 ? 0 : (rc < 0 ? rc : -EIO);
}

}  // namespace dovrane::extlib
