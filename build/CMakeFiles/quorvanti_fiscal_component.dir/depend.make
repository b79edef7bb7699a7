# Empty dependencies file for quorvanti_fiscal_component.
# This may be replaced when dependencies are built.
