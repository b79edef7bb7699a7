file(REMOVE_RECURSE
  "libquorvanti_document.a"
)
