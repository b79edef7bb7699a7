# Empty compiler generated dependencies file for quorvanti_monitor.
# This may be replaced when dependencies are built.
