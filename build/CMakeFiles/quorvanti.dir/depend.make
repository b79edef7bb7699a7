# Empty dependencies file for quorvanti.
# This may be replaced when dependencies are built.
