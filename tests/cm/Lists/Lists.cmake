# cm/Lists: custom list, hash table, typed lists and maps.
corvane_gtest(cm_lists_test
  SOURCES
    Lists/CustomList_test.cpp
    Lists/HashTable_test.cpp
    Lists/TypedLists_test.cpp
  LIBS cm_portable)
corvane_gtest(cm_stringlist_test SOURCES Lists/StringListEx_test.cpp LIBS cm_portable)
if(CORVANE_WIN32)
  corvane_gtest(cm_stringlist_file_test SOURCES Lists/StringListExFile_test.cpp LIBS cm_win32)
endif()
