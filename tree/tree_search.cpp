#include "tree/tree_search.h"

#include <algorithm>

#include "platform/text_codec.h"

namespace dovrane::tree {

namespace {

std::string_view TrimBlanks(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

}  // namespace

TextPattern::TextPattern(const std::string& pattern, bool case_sensitive, bool word_mode)
    : pattern_(pattern), case_sensitive_(case_sensitive) {
  for (int c = 0; c < 256; ++c) {
    auto ch = static_cast<unsigned char>(c);
    fold_[c] = case_sensitive ? ch : platform::UpperCp1252(ch);
  }
  if (word_mode && pattern_.find(' ') == std::string::npos) {
    mode_ = Mode::kWord;
    return;
  }
  if (!pattern_.empty() && pattern_.back() == '*') pattern_.pop_back();
  if (!pattern_.empty() && pattern_.front() == '*') pattern_.erase(0, 1);
  mode_ = !word_mode && pattern_.find('?') == std::string::npos ? Mode::kSubstring : Mode::kScan;
}

bool TextPattern::Matches(std::string_view text) const {
  auto equal = [this](char a, char b) { return Equal(static_cast<unsigned char>(a), static_cast<unsigned char>(b)); };
  switch (mode_) {
    case Mode::kWord: {
      size_t pos = 0;
      while (pos <= text.size()) {
        size_t end = text.find(' ', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view word = text.substr(pos, end - pos);
        if (word.size() == pattern_.size() && std::equal(word.begin(), word.end(), pattern_.begin(), equal))
          return true;
        pos = end + 1;
      }
      return false;
    }
    case Mode::kSubstring:
      return std::search(text.begin(), text.end(), pattern_.begin(), pattern_.end(), equal) != text.end();
    case Mode::kScan:
      if (pattern_.empty()) return false;
      for (size_t start = 0; start < text.size(); ++start) {
        if (!equal(text[start], pattern_[0])) continue;
        size_t i = 1;
        for (; i < pattern_.size(); ++i) {
          if (start + i >= text.size()) break;  // "?" does not match the end of the text
          if (pattern_[i] != '?' && !equal(text[start + i], pattern_[i])) break;
        }
        if (i == pattern_.size()) return true;
      }
      return false;
  }
  return false;
}

int MatchItemText(const std::string& pattern, const std::string& text, bool case_sensitive, bool word_mode) {
  return TextPattern(pattern, case_sensitive, word_mode).Matches(text) ? 0 : 1;
}

uint32_t ItemRef::kind() const { return child >= 0 ? ProjectRecord::ChildKind(child) : node->kind; }

const std::string& ItemRef::text() const {
  if (child >= 0) return static_cast<const ProjectRecord*>(node)->ChildText(child);
  if (node->parent) return static_cast<const ProjectRecord*>(node)->name;
  return static_cast<const HostRecord*>(node)->name;
}

TreeWalk::TreeWalk(const HostTable& table, ItemRef start) : table_(table) {
  if (!start.valid()) {
    ended_ = table.hosts.empty();
    return;
  }
  if (start.child >= 0) {
    level_ = 2;
    child_ = start.child;
  }
  const TreeNode* node = start.node;
  if (node->parent) {
    if (level_ == 0) level_ = 1;
    project_ = node->row;
    node = node->parent;
  }
  host_ = node->row;
}

ItemRef TreeWalk::Current() const {
  if (ended_) return {};
  const HostRecord& host = *table_.hosts[host_];
  if (project_ < 0) return {&host, -1};
  return {host.projects[project_].get(), child_};
}

void TreeWalk::Next() {
  if (ended_) return;
  const HostRecord* host = table_.hosts[host_].get();
  if (project_ < 0) {
    if (!host->projects.empty()) {
      project_ = 0;
      return;
    }
  } else if (child_ < 0) {
    child_ = 0;  // a project always has its directory and owner items
    return;
  } else if (child_ + 1 < host->projects[project_]->ChildCount()) {
    ++child_;
    return;
  } else if (level_ == 2) {
    ended_ = true;
    return;
  } else if (project_ + 1 < static_cast<int>(host->projects.size())) {
    ++project_;
    child_ = -1;
    return;
  }
  // Past the host's last item: on to the next host, unless the walk began below it.
  if (level_ == 1 && project_ >= 0) {
    ended_ = true;
    return;
  }
  ++host_;
  project_ = child_ = -1;
  ended_ = host_ >= static_cast<int>(table_.hosts.size());
}

ItemRef FindTreeItem(const HostTable& table, ItemRef start, const std::string& pattern, uint32_t mask) {
  TextPattern match(pattern, true, true);
  for (TreeWalk walk(table, start); walk.Current().valid(); walk.Next()) {
    ItemRef item = walk.Current();
    if ((item.kind() & mask) && match.Matches(TrimBlanks(item.text()))) return item;
  }
  return {};
}

SearchWalk::SearchWalk(const HostTable& table, ItemRef start, const std::string& pattern, uint32_t mask)
    : walk_(table, start), pattern_(pattern, false, false), mask_(mask) {}

ItemRef SearchWalk::NextMatch() {
  if (started_) walk_.Next();
  started_ = true;
  for (; walk_.Current().valid(); walk_.Next()) {
    ItemRef item = walk_.Current();
    if ((item.kind() & mask_) && pattern_.Matches(TrimBlanks(item.text()))) return item;
  }
  return {};
}

}  // namespace dovrane::tree
