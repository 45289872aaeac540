# TOCKMERE_SANITIZE picks the sanitizers for the whole build: "address,undefined" or "thread".
set(TOCKMERE_SANITIZE "" CACHE STRING "Sanitizers for every target: address,undefined or thread")
if(TOCKMERE_SANITIZE)
    add_compile_options(-fsanitize=${TOCKMERE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${TOCKMERE_SANITIZE})
endif()
