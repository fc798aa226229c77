#include "tree/properties_info.h"

#include <cstdarg>
#include <cstdio>

#include "extlib/installation/operation_context.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "services/ui_text_table.h"

namespace dovrane::tree {

namespace {

using services::LookupUiText;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

PropertiesInfo Common(const std::string& name, const std::string& path, int number, int64_t files, uint64_t bytes) {
  PropertiesInfo info;
  info.caption = "Varnholtek Dovranix";
  info.name_label = LookupUiText(1, 12);
  info.path_label = LookupUiText(1, 9);
  info.info_label = LookupUiText(1, 10);
  info.first_count_label = LookupUiText(1, 11);
  info.space_label = LookupUiText(1, 17);
  info.name = name;
  info.path = path;
  info.number = number;
  // A cancelled measurement counts as 0 files of 0 bytes.
  info.first_count = files < 0 ? 0 : static_cast<int>(files);
  info.size = files < 0 ? 0 : static_cast<double>(bytes) / (1024.0 * 1024.0);
  return info;
}

}  // namespace

PropertiesInfo ProjectProperties(const std::string& name, const std::string& path, int number, int64_t files,
                                 uint64_t bytes) {
  PropertiesInfo info = Common(name, path, number, files, bytes);
  info.type_text = LookupUiText(1, 13);
  info.second_count = -1;
  return info;
}

PropertiesInfo HostProperties(bool local_host, const std::string& name, const std::string& project_root,
                              int number, int64_t files, uint64_t bytes, int projects) {
  PropertiesInfo info = Common(name, project_root, number, files, bytes);
  info.type_text = LookupUiText(1, local_host ? 14 : 16);
  info.second_count_label = LookupUiText(1, 15);
  info.second_count = projects;
  return info;
}

std::string TypeLine(const PropertiesInfo& info) {
  return info.second_count == -1 ? Format("%s [%d]", info.type_text.c_str(), info.number) : info.type_text;
}

std::string InfoLine(const PropertiesInfo& info) {
  if (info.second_count == -1)
    return Format("%s %d  (%.2lf MB)", info.first_count_label.c_str(), info.first_count, info.size);
  return Format("%s %d / %s %d  (%.2lf MB)", info.second_count_label.c_str(), info.second_count,
                info.first_count_label.c_str(), info.first_count, info.size);
}

std::string FreeSpaceText(uint64_t free_bytes) {
  const double mb = static_cast<double>(free_bytes) / (1024.0 * 1024.0);
  return Format("%.0lf MB (%.2lf GB)", mb, mb / 1024.0);
}

std::string FreeSpaceLine(extlib::OperationContext& ctx, const std::string& path) {
  // The mapped folder itself, not the share's root: on Linux a volume may be
  // mounted anywhere below a share.
  uint64_t free_bytes = 0;
  if (path.empty() || ctx.Env().DiskSpace(ctx.Native(path), &free_bytes, nullptr) != 0) free_bytes = 0;
  return FreeSpaceText(free_bytes);
}

}  // namespace dovrane::tree
