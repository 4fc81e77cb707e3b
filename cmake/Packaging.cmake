# Installation and packages.
install(TARGETS zelvrin RUNTIME DESTINATION bin)
