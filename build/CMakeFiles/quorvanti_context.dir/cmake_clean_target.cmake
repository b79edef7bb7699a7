file(REMOVE_RECURSE
  "libquorvanti_context.a"
)
