// A small singly linked list of untyped items; it owns its nodes, never the
// items. Part of the library's interface only (see interface_only.h).
#ifndef BRIX_LIST_H
#define BRIX_LIST_H

#include "types.h"

struct ListItem_t {
  void* thisItem;
  ListItem_t* nextItem;  // null at the end
};
typedef ListItem_t* POSITION;

struct List_t {
  ListItem_t* head;
  ListItem_t* tail;
  int count;
};

void List_Init(List_t* list);
void List_Term(List_t* list);
// B_FALSE when no node can be allocated.
bool_t List_AddTail(List_t* list, void* item);
POSITION List_GetHeadPosition(const List_t* list);
// The item at *pos; moves *pos to the next node. *pos must not be null.
void* List_GetNext(POSITION* pos);
int List_GetCount(const List_t* list);
void* List_GetTail(const List_t* list);
// Releases every node (not the items) and empties the list.
void List_RemoveAll(List_t* list);

#endif  // BRIX_LIST_H
