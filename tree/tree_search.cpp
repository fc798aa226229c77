#include "tree/tree_search.h"

#include "platform/text_codec.h"
#include "tree/item_kind.h"

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
  } else {
    if (!pattern_.empty() && pattern_.back() == '*') pattern_.pop_back();
    if (!pattern_.empty() && pattern_.front() == '*') pattern_.erase(0, 1);
    mode_ = !word_mode && pattern_.find('?') == std::string::npos ? Mode::kSubstring : Mode::kScan;
  }
  folded_ = pattern_;
  for (char& c : folded_) c = static_cast<char>(fold_[static_cast<unsigned char>(c)]);
}

bool TextPattern::MatchesAt(const unsigned char* text, size_t at) const {
  for (size_t i = 1; i < folded_.size(); ++i) {
    if (fold_[text[at + i]] != static_cast<unsigned char>(folded_[i]) && !(mode_ == Mode::kScan && pattern_[i] == '?'))
      return false;
  }
  return true;
}

bool TextPattern::Matches(std::string_view text) const {
  const auto* chars = reinterpret_cast<const unsigned char*>(text.data());
  const size_t length = folded_.size();
  switch (mode_) {
    case Mode::kWord: {
      size_t pos = 0;
      while (pos <= text.size()) {
        size_t end = text.find(' ', pos);
        if (end == std::string_view::npos) end = text.size();
        if (end - pos == length && (length == 0 || (fold_[chars[pos]] == static_cast<unsigned char>(folded_[0]) &&
                                                    MatchesAt(chars, pos))))
          return true;
        pos = end + 1;
      }
      return false;
    }
    case Mode::kSubstring:
      if (length == 0) return !text.empty();
      [[fallthrough]];
    case Mode::kScan: {
      // A text shorter than the pattern cannot hold it ("?" does not match
      // the end of the text); else only where the first character matches.
      if (length == 0 || length > text.size()) return false;
      const auto first = static_cast<unsigned char>(folded_[0]);
      for (size_t start = 0, last = text.size() - length; start <= last; ++start) {
        if (fold_[chars[start]] == first && MatchesAt(chars, start)) return true;
      }
      return false;
    }
  }
  return false;
}

int MatchItemText(const std::string& pattern, const std::string& text, bool case_sensitive, bool word_mode) {
  return TextPattern(pattern, case_sensitive, word_mode).Matches(text) ? 0 : 1;
}

uint32_t ItemRef::kind() const { return child >= 0 ? ProjectRecord::ChildKind(child) : node->kind; }

std::string_view ItemRef::text() const {
  if (child >= 0) return static_cast<const ProjectRecord*>(node)->ChildText(child);
  if (node->parent) return static_cast<const ProjectRecord*>(node)->name();
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
  return {&host.projects[project_], child_};
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
  } else if (child_ + 1 < host->projects[project_].ChildCount()) {
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
    if (!(item.kind() & mask)) continue;
    const std::string_view text = item.text();
    if (text.size() >= match.MinLength() && match.Matches(TrimBlanks(text))) return item;
  }
  return {};
}

SearchWalk::SearchWalk(const HostTable& table, ItemRef start, const std::string& pattern, uint32_t mask)
    : walk_(table, start), pattern_(pattern, false, false), mask_(mask) {
  if (!table.snapshot || !(mask & (kKindProject | kKindProjectOut | kKindProjectHostOut))) return;
  const extlib::ProjectSnapshot& snapshot = *table.snapshot;
  name_matches_.resize(snapshot.Count());
  for (size_t i = 0; i < name_matches_.size(); ++i) {
    const std::string_view name = snapshot.Name(i);
    name_matches_[i] = name.size() >= pattern_.MinLength() && pattern_.Matches(TrimBlanks(name));
  }
}

bool SearchWalk::ItemMatches(const ItemRef& item) const {
  if (item.child < 0 && item.node->parent) {
    const auto* project = static_cast<const ProjectRecord*>(item.node);
    if (project->record < name_matches_.size()) return name_matches_[project->record];
  }
  const std::string_view text = item.text();
  return text.size() >= pattern_.MinLength() && pattern_.Matches(TrimBlanks(text));
}

ItemRef SearchWalk::NextMatch() {
  if (started_) walk_.Next();
  started_ = true;
  for (; walk_.Current().valid(); walk_.Next()) {
    ItemRef item = walk_.Current();
    if ((item.kind() & mask_) && ItemMatches(item)) return item;
  }
  return {};
}

}  // namespace dovrane::tree
