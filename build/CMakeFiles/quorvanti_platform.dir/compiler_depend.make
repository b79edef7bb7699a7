# Empty compiler generated dependencies file for quorvanti_platform.
# This may be replaced when dependencies are built.
