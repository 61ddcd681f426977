#pragma once
// The entry lists: TObjectList, a growable array of object references that may own
// its objects; TSortedObjectList, which keeps its items in key order by binary
// search under one of three policies for equal keys; and TSortedZip, a sorted list
// of archive entries under one of eight sort keys.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "unzip/unzip_errors.h"
#include "unzip/zip_records.h"

namespace kestrel {

/// Capacity can never exceed this many slots.
inline constexpr std::int32_t MaxListSize = 536870910;  // 0x1FFFFFFE

/// A growable array of object references. When OwnsItems is set, the destructor
/// frees every item; Clear never does.
template <class T>
class TObjectList {
 public:
  TObjectList() = default;
  virtual ~TObjectList() {
    for (T* item : items_) FreeItem(item);
    items_.clear();
  }
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;

  bool OwnsItems = true;

  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  std::int32_t Capacity() const { return capacity_; }

  /// The item at index; EListError "List index out of bounds (N)" outside 0..Count-1.
  T* Items(std::int32_t index) const {
    if (index < 0 || index >= Count()) Error(index);
    return items_[static_cast<std::size_t>(index)];
  }
  T* operator[](std::int32_t index) const { return Items(index); }

  /// Replaces an item without freeing the old one.
  virtual void Put(std::int32_t index, T* item) {
    if (index < 0 || index >= Count()) Error(index);
    items_[static_cast<std::size_t>(index)] = item;
  }
  /// Appends; returns the new item's index.
  virtual std::int32_t Add(T* item) {
    const std::int32_t index = Count();
    if (index == capacity_) Grow();
    items_.push_back(item);
    return index;
  }
  /// Inserts at index (0..Count); Insert(Count, X) appends.
  virtual void Insert(std::int32_t index, T* item) {
    if (index < 0 || index > Count()) Error(index);
    InsertAt(index, item);
  }
  /// Empties the list and drops its capacity; the items stay alive.
  virtual void Clear() {
    SetCount(0);
    SetCapacity(0);
  }
  /// Index of the very object, or -1.
  virtual std::int32_t IndexOf(const T* item) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == item) return static_cast<std::int32_t>(i);
    return -1;
  }

  void SetCapacity(std::int32_t capacity) {
    if (capacity == capacity_) return;
    if (capacity < Count() || capacity > MaxListSize) Error(capacity);
    capacity_ = capacity;
  }
  /// Items beyond the new count are not freed; new slots are empty.
  void SetCount(std::int32_t count) {
    if (count < 0 || count > MaxListSize) Error(count);
    if (count > capacity_) capacity_ = count;
    items_.resize(static_cast<std::size_t>(count), nullptr);
  }

 protected:
  [[noreturn]] virtual void Error(std::int32_t value) const {
    throw EListError("List index out of bounds (" + std::to_string(value) + ")");
  }
  /// One growth step: 4 slots up to 4, 8 up to 8, then 16 at a time.
  virtual void Grow() {
    const std::int32_t step = capacity_ > 8 ? 16 : capacity_ > 4 ? 8 : 4;
    SetCapacity(capacity_ + step);
  }
  virtual void FreeItem(T* item) {
    if (OwnsItems) std::unique_ptr<T> owned(item);
  }
  void InsertAt(std::int32_t index, T* item) {
    if (Count() == capacity_) Grow();
    items_.insert(items_.begin() + index, item);
  }

 private:
  // The slots in use; Capacity is kept as the list's own count of slots, while
  // the vector grows geometrically underneath, so a long directory costs no
  // quadratic copying.
  std::vector<T*> items_;
  std::int32_t capacity_ = 0;
};

/// How a sorted list treats an item whose key is present already.
enum TDuplicates : std::uint8_t {
  DuplicatesIgnored = 0,   ///< not inserted; the caller keeps it
  DuplicatesAllowed = 1,   ///< inserted in front of its equals
  DuplicatesRejected = 2,  ///< EListError "Duplicate Object index"
};

/// A list kept in key order by binary search.
template <class T>
class TSortedObjectList : public TObjectList<T> {
 public:
  explicit TSortedObjectList(TDuplicates duplicates) : Duplicates(duplicates) {}

  TDuplicates Duplicates;

  /// Binary search for key. Index is where the key is or would go: the first of
  /// equal items when duplicates are allowed, otherwise one of them.
  virtual bool Find(const T* key, std::int32_t& index) const {
    std::int32_t lo = 0, hi = this->Count() - 1;
    bool found = false;
    while (lo <= hi) {
      const std::int32_t mid = lo + (hi - lo) / 2;
      const int c = Compare(KeyOf(this->Items(mid)), key);
      if (c < 0) {
        lo = mid + 1;
      } else {
        hi = mid - 1;
        if (c == 0) {
          found = true;
          if (Duplicates != DuplicatesAllowed) lo = mid;
        }
      }
    }
    index = lo;
    return found;
  }

  /// Ignores index and inserts in key order.
  void Insert(std::int32_t /*index*/, T* item) override {
    // A directory comes in archive order, so most items go last: one comparison
    // with the last item says so, where the search would make twenty.
    const std::int32_t count = this->Count();
    if (count > 0 && Compare(KeyOf(this->Items(count - 1)), KeyOf(item)) < 0) {
      this->InsertAt(count, item);
      return;
    }
    std::int32_t at = 0;
    if (Find(KeyOf(item), at)) {
      if (Duplicates == DuplicatesIgnored) return;
      if (Duplicates == DuplicatesRejected) throw EListError("Duplicate Object index");
    }
    this->InsertAt(at, item);
  }
  /// Inserts in key order; returns 0.
  std::int32_t Add(T* item) override {
    Insert(0, item);
    return 0;
  }
  /// Index of an item with an equal key (not necessarily the same object), or -1.
  std::int32_t IndexOf(const T* item) const override {
    std::int32_t at = 0;
    return Find(KeyOf(item), at) ? at : -1;
  }
  void Put(std::int32_t, T*) override { throw EListError("Cannot <Put> an Object in a sorted list!"); }

 protected:
  virtual const T* KeyOf(const T* item) const { return item; }
  /// Negative, 0 or positive as the listed key a sorts before, with or after the
  /// sought key b.
  virtual int Compare(const T* a, const T* b) const = 0;
};

/// The order of an entry list.
enum TZipSortMode : std::uint8_t {
  ByName = 0,
  ByFileName = 1,
  ByDirectoryName = 2,
  ByDate = 3,
  ByCompressedSize = 4,
  ByUnCompressedSize = 5,
  ByRate = 6,
  ByNone = 7,
};

/// A sorted list of archive entries. Under ByNone (disk, then local header offset)
/// it is the component's owning DirectoryList; under the other keys a view that
/// owns nothing.
class TSortedZip : public TSortedObjectList<TZipHeaderInfo> {
 public:
  explicit TSortedZip(TDuplicates duplicates) : TSortedObjectList(duplicates) {}

  TZipSortMode SortKey = ByNone;

 protected:
  int Compare(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const override;
};

/// The compression rate of an entry in percent, 0 to 100: compressed size over
/// uncompressed size, rounded half to even; 0 for an empty entry.
int CompressionRate(const TZipHeaderInfo& entry);

/// Compares two texts byte by byte with a-z folded to A-Z and nothing else folded.
int CompareFoldedText(const std::string& a, const std::string& b);

}  // namespace kestrel
