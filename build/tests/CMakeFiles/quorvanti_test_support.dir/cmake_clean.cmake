file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_test_support.dir/support/temp_dir.cpp.o"
  "CMakeFiles/quorvanti_test_support.dir/support/temp_dir.cpp.o.d"
  "libquorvanti_test_support.a"
  "libquorvanti_test_support.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_test_support.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
