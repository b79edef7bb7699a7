file(REMOVE_RECURSE
  "libquorvanti_test_support.a"
)
