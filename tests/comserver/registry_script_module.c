/* A module for tests that carries nothing but a registry script resource; the
   runtime's default DllMain is its entry. */
typedef int registry_script_module_has_no_code;
