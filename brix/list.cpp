// Singly linked item list.
#include "list.h"

#include <cstdlib>

void List_Init(List_t* list) {
  list->head = nullptr;
  list->tail = nullptr;
  list->count = 0;
}

void List_Term(List_t* list) { List_Init(list); }

bool_t List_AddTail(List_t* list, void* item) {
  ListItem_t* node = static_cast<ListItem_t*>(malloc(sizeof(ListItem_t)));
  if (node == nullptr) return B_FALSE;
  node->thisItem = item;
  node->nextItem = nullptr;
  if (list->tail != nullptr) {
    list->tail->nextItem = node;
  } else {
    list->head = node;
  }
  list->tail = node;
  list->count++;
  return B_TRUE;
}

POSITION List_GetHeadPosition(const List_t* list) { return list->head; }

void* List_GetNext(POSITION* pos) {
  ListItem_t* node = *pos;
  *pos = node->nextItem;
  return node->thisItem;
}

int List_GetCount(const List_t* list) { return list->count; }

void* List_GetTail(const List_t* list) {
  return list->tail != nullptr ? list->tail->thisItem : nullptr;
}

void List_RemoveAll(List_t* list) {
  ListItem_t* node = list->head;
  while (node != nullptr) {
    ListItem_t* next = node->nextItem;
    free(node);
    node = next;
  }
  List_Init(list);
}
