file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_document.dir/cmake/empty.cpp.o"
  "CMakeFiles/quorvanti_document.dir/cmake/empty.cpp.o.d"
  "libquorvanti_document.a"
  "libquorvanti_document.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_document.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
