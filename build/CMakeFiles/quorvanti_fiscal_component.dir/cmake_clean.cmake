file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_fiscal_component.dir/cmake/empty.cpp.o"
  "CMakeFiles/quorvanti_fiscal_component.dir/cmake/empty.cpp.o.d"
  "libquorvanti_fiscal_component.a"
  "libquorvanti_fiscal_component.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_fiscal_component.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
