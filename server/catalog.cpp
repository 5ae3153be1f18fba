// The catalog: the tree of items, finding them, and items.txt read and
// written.
#include "catalog.h"

#include <string.h>

#include "file_format.h"
#include "text.h"

namespace {

// A spec without a trailing "/" (except the root's own).
std::string_view TrimSpec(std::string_view spec) {
  while (spec.size() > kRootSpec.size() && spec.back() == '/') spec.remove_suffix(1);
  return spec;
}

bool IsSpec(std::string_view spec) { return spec.substr(0, kRootSpec.size()) == kRootSpec; }

}  // namespace

bool IsValidItemName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\\t\r\n") == std::string_view::npos;
}

std::string_view ParentSpec(std::string_view spec) {
  spec = TrimSpec(spec);
  if (spec.size() <= kRootSpec.size()) return {};
  size_t slash = spec.rfind('/');
  return slash < kRootSpec.size() ? kRootSpec : spec.substr(0, slash);
}

std::string_view SpecName(std::string_view spec) {
  spec = TrimSpec(spec);
  if (spec.size() <= kRootSpec.size()) return {};
  return spec.substr(spec.rfind('/') + 1);
}

Catalog::Catalog() {
  Item root;
  root.spec = kRootSpec;
  items_.push_back(root);
  projects_.emplace(std::string(kRootSpec), 0);
}

bool Catalog::Parse(std::string_view text, const std::string& fileName, Failure* failure) {
  items_.clear();
  projects_.clear();
  texts_.Clear();

  LineReader reader(text);
  std::string_view line;
  if (!reader.Next(&line) || line != kHeader) {
    if (failure) *failure = Damaged(fileName, 1, kHeader);
    return false;
  }
  // One record per line, so the newlines bound the count.
  size_t lines = 1;
  for (const char* p = text.data();
       (p = static_cast<const char*>(memchr(p, '\n', text.data() + text.size() - p))); ++p) {
    ++lines;
  }
  items_.reserve(lines);

  // Files come in runs under one project, so the last parent is kept at hand
  // and the map of projects (which also sees deleted ones while loading, as
  // the latest project of a path is the parent of what follows it) is asked
  // only when the run ends.
  std::unordered_map<std::string, uint32_t> latest;
  std::string_view lastParentSpec;
  uint32_t lastParent = kNoItem;
  while (reader.Next(&line)) {
    if (line.empty()) continue;
    std::string_view fields[4];
    if (!SplitFields(line, fields, 4)) {
      if (failure)
        *failure = Damaged(fileName, reader.Number(), "TYPE<tab>STATE<tab>PATH<tab>LOCAL");
      return false;
    }
    Item item;
    if (fields[0] == "P") {
      item.type = ItemType::kProject;
    } else if (fields[0] == "F") {
      item.type = ItemType::kFile;
    } else {
      if (failure) *failure = Damaged(fileName, reader.Number(), "TYPE is P or F");
      return false;
    }
    if (fields[1] == "deleted") {
      item.deleted = true;
    } else if (fields[1] != "live") {
      if (failure) *failure = Damaged(fileName, reader.Number(), "STATE is live or deleted");
      return false;
    }
    item.spec = fields[2];
    item.local = fields[3];
    if (!IsSpec(item.spec) || (item.spec.size() > kRootSpec.size() && item.spec.back() == '/')) {
      if (failure) *failure = Damaged(fileName, reader.Number(), "PATH begins with $/");
      return false;
    }

    const auto index = static_cast<uint32_t>(items_.size());
    if (items_.empty()) {
      if (item.spec != kRootSpec || item.type != ItemType::kProject || item.deleted) {
        if (failure) *failure = Damaged(fileName, reader.Number(), "the first item is $/");
        return false;
      }
    } else {
      std::string_view parentSpec = ParentSpec(item.spec);
      std::string_view name = SpecName(item.spec);
      // Only the project's path, one "/" and the name: "$//a" would be a
      // second path of $/a, and Find would take one item for the other.
      const size_t separator = parentSpec == kRootSpec ? 0 : 1;
      if (parentSpec.empty() || !IsValidItemName(name) ||
          parentSpec.size() + separator + name.size() != item.spec.size()) {
        if (failure)
          *failure = Damaged(fileName, reader.Number(), "PATH names an item in a project");
        return false;
      }
      if (parentSpec != lastParentSpec || lastParent == kNoItem) {
        auto found = latest.find(FoldCase(parentSpec));
        if (found == latest.end()) {
          if (failure)
            *failure = Damaged(fileName, reader.Number(), "the project of PATH comes first");
          return false;
        }
        lastParentSpec = parentSpec;
        lastParent = found->second;
      }
      item.parent = lastParent;
    }
    // Parents come before their children, so what is hidden is known here.
    item.hidden = item.deleted || (item.parent != kNoItem && items_[item.parent].hidden);
    if (item.type == ItemType::kProject) {
      auto [latestOfPath, first] = latest.try_emplace(FoldCase(item.spec), index);
      // A path is added again only once its project is gone; another line
      // for a project that is there would leave one of them unreachable.
      if (!first && !items_[latestOfPath->second].hidden) {
        if (failure) *failure = Damaged(fileName, reader.Number(), "PATH is no project's already");
        return false;
      }
      latestOfPath->second = index;
    }
    items_.push_back(item);
    if (item.parent != kNoItem) Link(index);
  }
  if (items_.empty()) {
    if (failure) *failure = Damaged(fileName, reader.Number() + 1, "the first item is $/");
    return false;
  }
  for (const auto& [spec, index] : latest) {
    if (!items_[index].hidden) projects_.emplace(spec, index);
  }
  return true;
}

std::string Catalog::Serialize() const {
  size_t size = kHeader.size() + 1;
  for (const Item& item : items_) size += item.spec.size() + item.local.size() + 16;
  std::string text;
  text.reserve(size);
  text += kHeader;
  text += '\n';
  for (const Item& item : items_) {
    text += item.type == ItemType::kProject ? "P\t" : "F\t";
    text += item.deleted ? "deleted\t" : "live\t";
    text += item.spec;
    text += '\t';
    text += item.local;
    text += '\n';
  }
  return text;
}

uint32_t Catalog::Find(std::string_view spec) const {
  spec = TrimSpec(spec);
  if (!IsSpec(spec)) return kNoItem;
  std::string folded = FoldCase(spec);
  auto project = projects_.find(folded);
  if (project != projects_.end()) return project->second;
  std::string_view parentSpec = ParentSpec(spec);
  if (parentSpec.empty()) return kNoItem;
  auto parent = projects_.find(FoldCase(parentSpec));
  if (parent == projects_.end()) return kNoItem;
  std::string_view name = SpecName(spec);
  for (uint32_t child = items_[parent->second].firstChild; child != kNoItem;
       child = items_[child].nextSibling) {
    const Item& item = items_[child];
    if (!item.hidden && item.type == ItemType::kFile && EqualNoCase(SpecName(item.spec), name)) {
      return child;
    }
  }
  return kNoItem;
}

std::vector<uint32_t> Catalog::Children(uint32_t project) const {
  std::vector<uint32_t> children;
  for (uint32_t child = items_[project].firstChild; child != kNoItem;
       child = items_[child].nextSibling) {
    if (!items_[child].hidden) children.push_back(child);
  }
  return children;
}

uint32_t Catalog::Add(uint32_t parent, ItemType type, std::string_view name,
                      std::string_view local) {
  const Item& project = items_[parent];
  std::string spec(project.spec);
  if (spec.size() > kRootSpec.size()) spec += '/';
  spec += name;
  Item item;
  item.spec = texts_.Keep(spec);
  item.local = texts_.Keep(local);
  item.type = type;
  item.parent = parent;
  const auto index = static_cast<uint32_t>(items_.size());
  items_.push_back(item);
  Link(index);
  if (type == ItemType::kProject) projects_[FoldCase(item.spec)] = index;
  return index;
}

void Catalog::MarkDeleted(uint32_t index) {
  items_[index].deleted = true;
  // Hide the subtree: an explicit stack, as projects nest without bound.
  std::vector<uint32_t> pending{index};
  while (!pending.empty()) {
    uint32_t current = pending.back();
    pending.pop_back();
    Item& item = items_[current];
    if (item.hidden && current != index) continue;
    item.hidden = true;
    if (item.type == ItemType::kProject) {
      auto found = projects_.find(FoldCase(item.spec));
      if (found != projects_.end() && found->second == current) projects_.erase(found);
      for (uint32_t child = item.firstChild; child != kNoItem; child = items_[child].nextSibling) {
        pending.push_back(child);
      }
    }
  }
}

void Catalog::Link(uint32_t index) {
  Item& parent = items_[items_[index].parent];
  if (parent.lastChild == kNoItem) {
    parent.firstChild = index;
  } else {
    items_[parent.lastChild].nextSibling = index;
  }
  parent.lastChild = index;
}
