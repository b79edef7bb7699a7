# Empty dependencies file for quorvanti_document.
# This may be replaced when dependencies are built.
