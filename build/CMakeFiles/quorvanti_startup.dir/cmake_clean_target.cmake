file(REMOVE_RECURSE
  "libquorvanti_startup.a"
)
