# Warnings are errors everywhere in the tree.
add_compile_options(-Wall -Wextra -Werror)
