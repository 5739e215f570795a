// Gives every core library at least one translation unit while its folder is being filled.
