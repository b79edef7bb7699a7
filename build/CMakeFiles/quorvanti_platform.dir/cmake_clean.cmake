file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_platform.dir/cmake/empty.cpp.o"
  "CMakeFiles/quorvanti_platform.dir/cmake/empty.cpp.o.d"
  "libquorvanti_platform.a"
  "libquorvanti_platform.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_platform.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
