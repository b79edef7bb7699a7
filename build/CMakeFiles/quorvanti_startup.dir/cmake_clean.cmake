file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_startup.dir/cmake/empty.cpp.o"
  "CMakeFiles/quorvanti_startup.dir/cmake/empty.cpp.o.d"
  "libquorvanti_startup.a"
  "libquorvanti_startup.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_startup.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
