// ClItemQueue: appending at the tail, taking from the head.
#include "scc/item_queue.h"

void ClItemQueue::Append(ClVssItemPtr& item) {
  Node* node = new Node;
  node->item.Swap(item);
  node->next = &sentinel_;
  node->previous = sentinel_.previous;
  sentinel_.previous->next = node;
  sentinel_.previous = node;
}

void ClItemQueue::TakeHead(ClVssItemPtr& item) {
  Node* head = sentinel_.next;
  item.Reset();
  item.Swap(head->item);
  delete head;
}

void ClItemQueue::Empty() {
  while (!IsEmpty()) delete sentinel_.next;
}
