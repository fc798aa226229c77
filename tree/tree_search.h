// Finding items of the trees by their text: the text match of the search row
// and of the tree commands, and a pre-order walk over the host table's own
// data (never the view's items), with one pattern built once per search.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <string_view>

#include "tree/host_table.h"

namespace dovrane::tree {

// A pattern as MatchItemText reads it, prepared once for many texts.
// Without case sensitivity both sides compare upper-cased (Windows-1252).
class TextPattern {
 public:
  TextPattern(const std::string& pattern, bool case_sensitive, bool word_mode);
  bool Matches(std::string_view text) const;
  // No text shorter than this matches.
  size_t MinLength() const { return folded_.size(); }

 private:
  enum class Mode { kWord, kSubstring, kScan };
  // Whether text[at ..] holds the folded pattern (its "?" any one character).
  bool MatchesAt(const unsigned char* text, size_t at) const;
  Mode mode_;
  unsigned char fold_[256];  // upper-cased, or the character itself when case matters
  std::string pattern_;  // stars removed as the mode says
  std::string folded_;   // the pattern folded once, so a text is folded only where it is compared
  bool case_sensitive_;
};

// 0 when text matches pattern, 1 when it does not. Word mode with a pattern
// without blanks: a whole blank-separated word must equal it. Otherwise one
// trailing and then one leading "*" are dropped; without word mode and
// without "?" the rest must occur in the text; else "?" after its first
// position stands for any one character.
[[nodiscard]] int MatchItemText(const std::string& pattern, const std::string& text, bool case_sensitive, bool word_mode);

// One item of the trees: a host or project record, or a project's child
// (child >= 0: 0 directory, 1 owner, 2.. members).
struct ItemRef {
  const TreeNode* node = nullptr;
  int child = -1;
  bool valid() const { return node != nullptr; }
  uint32_t kind() const;
  std::string_view text() const;
  bool operator==(const ItemRef&) const = default;
};

// The pre-order walk over start, its subtree, and its following siblings
// with their subtrees (a null start: every item from the first host).
class TreeWalk {
 public:
  TreeWalk(const HostTable& table, ItemRef start);
  // The current item; invalid once the walk has ended.
  ItemRef Current() const;
  void Next();

 private:
  const HostTable& table_;
  int level_ = 0;  // of the start: 0 host, 1 project, 2 child
  int host_ = 0, project_ = -1, child_ = -1;
  bool ended_ = false;
};

// The first item from start on (see TreeWalk) whose kind has a bit of mask
// and whose text, without leading and trailing blanks, matches pattern in
// word mode, case-sensitive; invalid if none.
ItemRef FindTreeItem(const HostTable& table, ItemRef start, const std::string& pattern, uint32_t mask);

// The search row's walk, one match at a time: case-insensitive, not word mode.
class SearchWalk {
 public:
  SearchWalk(const HostTable& table, ItemRef start, const std::string& pattern, uint32_t mask);
  // The next match (the first one at the first call); invalid when the walk
  // has run through the tree.
  ItemRef NextMatch();

 private:
  bool ItemMatches(const ItemRef& item) const;

  TreeWalk walk_;
  TextPattern pattern_;
  uint32_t mask_;
  bool started_ = false;
  // The projects whose names match, by their place in the table's snapshot:
  // the names are compared in one pass in the snapshot's order, not one by
  // one in the tree's, where each would be a look-up elsewhere in memory.
  std::vector<bool> name_matches_;
};

}  // namespace dovrane::tree
