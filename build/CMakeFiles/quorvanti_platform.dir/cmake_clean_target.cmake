file(REMOVE_RECURSE
  "libquorvanti_platform.a"
)
