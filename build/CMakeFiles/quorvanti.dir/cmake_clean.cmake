file(REMOVE_RECURSE
  "CMakeFiles/quorvanti.dir/src/main.cpp.o"
  "CMakeFiles/quorvanti.dir/src/main.cpp.o.d"
  "quorvanti"
  "quorvanti.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
