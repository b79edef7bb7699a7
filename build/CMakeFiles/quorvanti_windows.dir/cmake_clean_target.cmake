file(REMOVE_RECURSE
  "libquorvanti_windows.a"
)
