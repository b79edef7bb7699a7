file(REMOVE_RECURSE
  "libquorvanti_database.a"
)
