// The projects and files of a SourceSafe database as a tree, and its file
// items.txt: one line per project or file, in the order they were added,
//   TYPE <tab> STATE <tab> PATH <tab> LOCAL
// TYPE "P" project or "F" file, STATE "live" or "deleted", PATH the
// SourceSafe path ("$/", "$/app/main.c"), LOCAL a file's working copy or a
// project's working folder (full paths; a project's may be empty).
#pragma once

#include <stdint.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "failure.h"
#include "string_store.h"

// The root project's spec.
constexpr std::string_view kRootSpec = "$/";

// Whether a name can name an item: not empty, not "." or "..", no separator,
// tab or line break.
bool IsValidItemName(std::string_view name);
// The parent part of a spec ("$/a/b" -> "$/a", "$/a" -> "$/"); "" for "$/".
std::string_view ParentSpec(std::string_view spec);
// The last component of a spec ("$/a/b" -> "b").
std::string_view SpecName(std::string_view spec);

constexpr uint32_t kNoItem = UINT32_MAX;

enum class ItemType : uint8_t { kProject = 0, kFile = 1 };

struct Item {
  std::string_view spec;   // the SourceSafe path, letter case as added
  std::string_view local;  // working copy or working folder, full path
  uint32_t parent = kNoItem;
  uint32_t firstChild = kNoItem;
  uint32_t lastChild = kNoItem;
  uint32_t nextSibling = kNoItem;
  ItemType type = ItemType::kProject;
  bool deleted = false;
  bool hidden = false;  // deleted, or inside a deleted project
};

// The projects and files, as a tree in the order of adding. Item 0 is the
// root project "$/". Texts point into the loaded text or into the catalog's
// own storage, so loading allocates per line nothing but the item record.
class Catalog {
 public:
  Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // Replaces the content by the items of an items.txt text, which must stay
  // alive as long as the catalog. `fileName` names the file in failures.
  bool Parse(std::string_view text, const std::string& fileName, Failure* failure);
  // The items.txt text of the catalog.
  std::string Serialize() const;

  size_t Size() const { return items_.size(); }
  const Item& At(uint32_t index) const { return items_[index]; }
  // The visible item at `spec` (letter case ignored, a trailing "/" allowed);
  // kNoItem when there is none.
  uint32_t Find(std::string_view spec) const;
  // The visible children of a project, in the order they were added.
  std::vector<uint32_t> Children(uint32_t project) const;

  // Adds an item to a visible project (the caller has checked that the name
  // is valid and free); its texts are copied. Returns its index.
  uint32_t Add(uint32_t parent, ItemType type, std::string_view name, std::string_view local);
  // Marks an item deleted; whatever a project holds is hidden with it.
  void MarkDeleted(uint32_t index);

  static constexpr std::string_view kHeader = "# Tickwright SourceSafe items, format 1";

 private:
  void Link(uint32_t index);

  std::vector<Item> items_;
  // Folded spec of every visible project. Files are found through their
  // project, so loading builds no index of them.
  std::unordered_map<std::string, uint32_t> projects_;
  StringStore texts_;
};
