# cm/Lists: the custom list, the hash table and the typed lists and maps (portable).
target_sources(cm_portable PRIVATE
  Lists/CustomList.cpp
  Lists/HashTable.cpp
  Lists/TypedLists.cpp
)
target_sources(cm_portable PRIVATE Lists/StringListEx.cpp)
if(CORVANE_WIN32)
  target_sources(cm_win32 PRIVATE Lists/StringListExFile.cpp)
endif()
