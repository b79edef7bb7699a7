# Empty compiler generated dependencies file for quorvanti_startup.
# This may be replaced when dependencies are built.
