% [build_dir, source_dir, scratch] = test_folders ()
% The folders an Octave test gets on its command line (build tree, source
% tree, a scratch folder of its own), with the scratch folder emptied.
function [build_dir, source_dir, scratch] = test_folders ()
  command_line = argv ();
  if numel (command_line) < 3
    error ('FAILED: usage: octave-cli test_x.m <build dir> <source dir> <scratch dir>');
  end
  build_dir = make_absolute (command_line{end - 2});
  source_dir = make_absolute (command_line{end - 1});
  scratch = make_absolute (command_line{end});
  if exist (scratch, 'dir')
    confirm_recursive_rmdir (false, 'local');
    rmdir (scratch, 's');
  end
  mkdir (scratch);
end

function absolute = make_absolute (path)
  absolute = make_absolute_filename (path);
end
