// ClItemQueue: the first-in, first-out queue of SourceSafe items still to be
// examined by a search, as a circular doubly linked list with a sentinel.
#pragma once

#include "scc/com_holders.h"
#include "scc/sourcesafe_interfaces.h"

using ClVssItemPtr = ClComPtr<IVSSItem, IID_IVSSItem>;

class ClItemQueue {
 public:
  ClItemQueue() = default;
  // Releases every item still queued.
  ~ClItemQueue() { Empty(); }
  ClItemQueue(const ClItemQueue&) = delete;
  ClItemQueue& operator=(const ClItemQueue&) = delete;

  bool IsEmpty() const { return sentinel_.next == &sentinel_; }
  // Moves the reference that `item` holds into a new node at the tail.
  void Append(ClVssItemPtr& item);
  // Moves the reference of the head node into `item` (which it empties
  // first) and deletes the node. The queue must not be empty.
  void TakeHead(ClVssItemPtr& item);
  // Deletes every node, releasing its item.
  void Empty();

 private:
  // Owns one item reference; deleting a node unlinks it.
  struct Node {
    Node() : next(this), previous(this) {}
    ~Node() {
      previous->next = next;
      next->previous = previous;
    }
    Node* next;
    Node* previous;
    ClVssItemPtr item;
  };

  Node sentinel_;
};
