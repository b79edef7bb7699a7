# Empty dependencies file for quorvanti_context.
# This may be replaced when dependencies are built.
