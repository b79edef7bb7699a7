# Empty compiler generated dependencies file for quorvanti.
# This may be replaced when dependencies are built.
