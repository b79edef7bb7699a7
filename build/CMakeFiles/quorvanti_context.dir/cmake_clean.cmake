file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_context.dir/cmake/empty.cpp.o"
  "CMakeFiles/quorvanti_context.dir/cmake/empty.cpp.o.d"
  "libquorvanti_context.a"
  "libquorvanti_context.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_context.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
