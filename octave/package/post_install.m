% Run by pkg install: moves the compiled module from the architecture folder
% next to the help file vendral.m, so that "help vendral" finds its text and
% calls reach the module.
function post_install (desc)
  modules = dir (fullfile (desc.archprefix, '*', 'vendral.mex'));
  if isempty (modules)
    error ('vendral: post_install: the compiled module vendral.mex is missing under %s', ...
           desc.archprefix);
  end
  [moved, message] = movefile (fullfile (modules(1).folder, modules(1).name), desc.dir);
  if ~moved
    error ('vendral: post_install: cannot move vendral.mex to %s: %s', desc.dir, message);
  end
end
