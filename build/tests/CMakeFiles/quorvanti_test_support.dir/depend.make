# Empty dependencies file for quorvanti_test_support.
# This may be replaced when dependencies are built.
