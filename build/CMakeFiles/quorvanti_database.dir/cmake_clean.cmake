file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_database.dir/cmake/empty.cpp.o"
  "CMakeFiles/quorvanti_database.dir/cmake/empty.cpp.o.d"
  "libquorvanti_database.a"
  "libquorvanti_database.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_database.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
