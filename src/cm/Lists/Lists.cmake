# cm/Lists: the custom list, the hash table and the typed lists and maps (portable).
target_sources(cm_portable PRIVATE
  Lists/CustomList.cpp
  Lists/HashTable.cpp
  Lists/TypedLists.cpp
)
target_sources(cm_portable PRIVATE Lists/StringListEx.cpp)
