# Empty compiler generated dependencies file for quorvanti_database.
# This may be replaced when dependencies are built.
