file(REMOVE_RECURSE
  "libquorvanti_monitor.a"
)
