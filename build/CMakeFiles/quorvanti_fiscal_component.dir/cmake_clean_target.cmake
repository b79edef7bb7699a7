file(REMOVE_RECURSE
  "libquorvanti_fiscal_component.a"
)
