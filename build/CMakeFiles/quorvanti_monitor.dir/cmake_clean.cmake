file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_monitor.dir/cmake/empty.cpp.o"
  "CMakeFiles/quorvanti_monitor.dir/cmake/empty.cpp.o.d"
  "libquorvanti_monitor.a"
  "libquorvanti_monitor.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_monitor.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
