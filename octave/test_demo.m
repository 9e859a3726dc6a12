% vendral_demo draws the decision regions of the four kernels headless into
% a PNG; the regions it drew are vendral's labels of the grid, with the
% unclassifiable points counted.
1;
addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();
addpath (build_dir);
cd (scratch);

picture = fullfile (scratch, 'decision_regions.png');
tic;
printed = evalc ('regions = vendral_demo (picture);');
printf ('vendral_demo took %.1f s\n', toc);
expect_equal (printed, sprintf ('vendral_demo: decision regions saved to %s\n', picture), ...
              'console of vendral_demo');
expect (exist (picture, 'file') == 2, 'no picture at %s', picture);
info = imfinfo (picture);
expect_equal ([info.Width, info.Height], [1000, 850], 'picture size');
image_data = imread (picture);
colours = unique (reshape (image_data, [], 3), 'rows');
expect (rows (colours) > 20, 'picture has only %d colours', rows (colours));
% The grey of unclassifiable points is there (the gaussian at h = 0.05).
grey = all (abs (double (image_data) - round (0.35 * 255)) <= 1, 3);
expect (nnz (grey) > 1000, 'only %d grey pixels for unclassifiable points', nnz (grey));

[X, y] = vendral_iris ();
expect_equal (regions.kernel_names, {'gaussian', 'squared sinc', 'laplacian', 'cauchy'}, ...
              'kernel names');
expect_equal (regions.unknown_label, 0, 'unknown label of the Iris demo');
[gx, gy] = meshgrid (regions.x, regions.y);
for kernel = 0:3
  expected = vendral (X(:, 3:4), y, kernel, 2, 0.05, [gx(:), gy(:)], 0, 0);
  expect_equal (regions.labels{kernel + 1}, reshape (expected, size (gx)), ...
                sprintf ('regions of kernel %d', kernel));
  expect (all (ismember (regions.labels{kernel + 1}(:), [0; 1; 2; 3])), ...
          'labels outside the classes for kernel %d', kernel);
end
% Far from every template the gaussian underflows for all classes: ties.
expect (nnz (regions.labels{1} == 0) > 1000, 'gaussian regions show no unclassifiable points');
expect (nnz (regions.labels{4} == 0) == 0, 'cauchy regions have unclassifiable points');

% Any two-feature data set, other h and norm.
templates = [0 0; 1 0; 0 1; 4 4; 5 4; 4 5];
classes = [7; 7; 7; 9; 9; 9];
other = fullfile (scratch, 'two_blobs.png');
evalc ('blobs = vendral_demo (other, templates, classes, 1.5, Inf);');
expect (exist (other, 'file') == 2, 'no picture for the second data set');
[gx, gy] = meshgrid (blobs.x, blobs.y);
expect_equal (blobs.labels{3}, reshape (vendral (templates, classes, 2, Inf, 1.5, [gx(:), gy(:)], 6, 0), ...
                                       size (gx)), 'laplacian regions of the second data set');
% A bare call without a display saves to the default file and prints
% nothing else.
setenv ('DISPLAY', '');
setenv ('WAYLAND_DISPLAY', '');
printed = evalc ('vendral_demo');
expect_equal (printed, "vendral_demo: decision regions saved to vendral_decision_regions.png\n", ...
              'console of a bare vendral_demo');
expect (exist (fullfile (scratch, 'vendral_decision_regions.png'), 'file') == 2, ...
        'no default picture from a bare vendral_demo');

expect_error ('vendral_demo (other, X, y);', ...
              'vendral_demo: Templates must have two columns', 'four features');
printf ('octave_demo_picture: all checks passed\n');
