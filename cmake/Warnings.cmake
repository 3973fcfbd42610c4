# Every target of ours compiles with the same strict warnings; the checked build turns them into errors.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow)
if(SORVANE_WERROR)
  add_compile_options(-Werror)
endif()
