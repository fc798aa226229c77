// The fixed-width layout of the project administration project.dat: the
// header line and the record lines of versions 3 and 1/2. The readers and
// writers of the library, the conversion and the sample installation all use
// these names; docs/formats.md describes the same layout in prose.
#pragma once

namespace dovrane::extlib::layout {

// Header line: version "%2d", highest number "n%.7u", line end.
inline constexpr int kHeaderVersion = 0;
inline constexpr int kHeaderVersionWidth = 2;
inline constexpr int kHeaderNumber = 2;
inline constexpr int kHeaderNumberWidth = 8;
inline constexpr int kHeaderText = 10;  // characters before the line end
inline constexpr int kCurrentVersion = 3;

// Field widths shared by both record layouts.
inline constexpr int kNameWidth = 50;
inline constexpr int kNumberWidth = 8;
inline constexpr int kHostWidth = 16;
inline constexpr int kKeyWidth = 10;
inline constexpr int kBeginWidth = 8;
inline constexpr int kOwnerWidth = 3;

// Version 3 record line.
inline constexpr int kV3Name = 0;
inline constexpr int kV3NameEnd = 50;  // "@"
inline constexpr int kV3Number = 51;
inline constexpr int kV3Version = 60;
inline constexpr int kV3VersionWidth = 2;
inline constexpr int kV3Status = 63;
inline constexpr int kV3Key = 65;
inline constexpr int kV3Begin = 76;
inline constexpr int kV3ShortLength = 84;  // a line without host and members
inline constexpr int kV3Host = 85;
inline constexpr int kV3HostEnd = 101;  // "@"
inline constexpr int kV3Owner = 102;
inline constexpr int kV3Members = 106;
inline constexpr int kV3ContainerWidth = 8;  // 4 bytes, two hex digits each
// Separators written between fixed fields (any single non-blank one is read).
inline constexpr char kFieldEnd = '@';
inline constexpr char kSeparator = ';';

constexpr int V3LineLength(int containers) {
  return containers == 0 ? kV3ShortLength : kV3Members + kV3ContainerWidth * containers;
}
// The container count a version 3 record line of this length (without its
// line end) was written for, or kNoContainerCount when no count gives that length.
inline constexpr int kNoContainerCount = -1;
constexpr int V3ContainersOfLength(long length) {
  if (length == kV3ShortLength) return 0;
  if (length <= kV3Members || (length - kV3Members) % kV3ContainerWidth != 0) return kNoContainerCount;
  return static_cast<int>((length - kV3Members) / kV3ContainerWidth);
}
// The first line of a version 3 file longer than this can hold any container count.
inline constexpr int kV3ProbeBytes = 356;

// Versions 1 and 2 record line (128 users, no project version).
inline constexpr int kV12Name = 0;
inline constexpr int kV12NameEnd = 50;
inline constexpr int kV12Host = 51;
inline constexpr int kV12Number = 68;
inline constexpr int kV12Owner = 77;
inline constexpr int kV12Members = 81;
inline constexpr int kV12MemberBytes = 16;
inline constexpr int kV12Status = 114;
inline constexpr int kV12Key = 116;
inline constexpr int kV12Begin = 127;
inline constexpr int kV12LineLength = 135;

}  // namespace dovrane::extlib::layout
