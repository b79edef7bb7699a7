# Empty compiler generated dependencies file for quorvanti_windows.
# This may be replaced when dependencies are built.
