// Keeps a library that holds only headers buildable as a static library.
