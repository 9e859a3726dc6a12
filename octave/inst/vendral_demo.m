%VENDRAL_DEMO  Draw the decision regions of the four vendral kernels.
%
%  vendral_demo ()
%  vendral_demo (png_file)
%  vendral_demo (png_file, Templates, NLabels, h, norm_type)
%  regions = vendral_demo (...)
%
%  Classifies a regular grid of test points over a two-feature data set with
%  each of the four kernels and draws the result in a 2-by-2 figure: every
%  grid point coloured by the label vendral gives it, the points vendral
%  cannot classify (ties) in dark grey, and the templates on top, one marker
%  per class.  Each title names the kernel and counts the unclassifiable
%  points of the 240-by-240 grid.
%
%    png_file   when given and not empty, the figure is drawn off screen and
%               saved there as a PNG (works headless, e.g. in octave-cli).
%               Without it the figure is shown on screen; with no display it
%               is saved to vendral_decision_regions.png in the current
%               folder.
%    Templates  N-by-2 reference patterns; default: petal length and petal
%               width of the Iris data (vendral_iris).
%    NLabels    their N class labels; default: the Iris classes.
%    h          window width; default 0.05, small enough for the gaussian
%               kernel to underflow far from the templates, which shows
%               unclassifiable grid points.
%    norm_type  Minkowski exponent; default 2.
%    regions    structure with the grid (x, y), one label matrix per kernel
%               (labels{k}, size numel(y)-by-numel(x)), kernel_names,
%               unknown_label, h and norm_type.
%
%  Example (headless, the picture of the user's guide)
%    vendral_demo ('decision_regions.png');
%
%  See also vendral, vendral_iris, vendral_select_h.

% The structure is returned only when asked for: a bare vendral_demo call
% would otherwise print all of it.
function varargout = vendral_demo (png_file, Templates, NLabels, h, norm_type)
  if nargin < 1
    png_file = '';
    if ~has_display ()
      png_file = 'vendral_decision_regions.png';
    end
  end
  axis_names = {'feature 1', 'feature 2'};
  if nargin < 3
    [X, y] = vendral_iris ();
    Templates = X(:, 3:4);
    NLabels = y;
    axis_names = {'petal length (cm)', 'petal width (cm)'};
  end
  if nargin < 4 || isempty (h)
    h = 0.05;
  end
  if nargin < 5 || isempty (norm_type)
    norm_type = 2;
  end
  if size (Templates, 2) ~= 2
    error ('vendral_demo:features', 'vendral_demo: Templates must have two columns');
  end
  NLabels = NLabels(:);

  regions = classify_grid (Templates, NLabels, h, norm_type);
  draw_regions (regions, Templates, NLabels, axis_names, png_file);
  if ~isempty (png_file)
    fprintf ('vendral_demo: decision regions saved to %s\n', png_file);
  end
  if nargout > 0
    varargout{1} = regions;
  end
end

function yes = has_display ()
  if exist ('OCTAVE_VERSION', 'builtin')
    yes = ~isempty (getenv ('DISPLAY')) || ~isempty (getenv ('WAYLAND_DISPLAY')) ...
          || ispc () || ismac ();
  else
    yes = usejava ('desktop') || usejava ('awt');
  end
end

function regions = classify_grid (Templates, NLabels, h, norm_type)
  points = 240;
  low = min (Templates, [], 1);
  high = max (Templates, [], 1);
  margin = 0.15 * max (high - low, eps);
  x = linspace (low(1) - margin(1), high(1) + margin(1), points);
  y = linspace (low(2) - margin(2), high(2) + margin(2), points);
  [gx, gy] = meshgrid (x, y);
  grid_points = [gx(:), gy(:)];

  regions.x = x;
  regions.y = y;
  regions.kernel_names = {'gaussian', 'squared sinc', 'laplacian', 'cauchy'};
  regions.unknown_label = min (fix (NLabels)) - 1;
  regions.h = h;
  regions.norm_type = norm_type;
  regions.labels = cell (1, 4);
  for kernel = 0:3
    labels = vendral (Templates, NLabels, kernel, norm_type, h, grid_points, ...
                      regions.unknown_label, 0);
    regions.labels{kernel + 1} = reshape (labels, size (gx));
  end
end

function draw_regions (regions, Templates, NLabels, axis_names, png_file)
  classes = unique (fix (NLabels));
  light = [0.99 0.80 0.80; 0.80 0.92 0.99; 0.82 0.96 0.80; ...
           0.99 0.93 0.75; 0.90 0.82 0.98; 0.85 0.95 0.95];
  strong = [0.80 0.10 0.10; 0.10 0.35 0.85; 0.10 0.60 0.15; ...
            0.85 0.55 0.00; 0.50 0.20 0.75; 0.00 0.55 0.55];
  markers = 'osd^vp';
  unclassified_colour = [0.35 0.35 0.35];
  palette = [light(1 + mod (0:numel (classes) - 1, rows_of (light)), :); ...
             unclassified_colour];

  quiet = warning ('off', 'Octave:gnuplot-graphics');
  restore_warning = onCleanup (@() warning (quiet));
  if isempty (png_file)
    figure_handle = figure ();
  else
    figure_handle = figure ('visible', 'off');
  end
  set (figure_handle, 'PaperPositionMode', 'manual', 'PaperUnits', 'inches', ...
       'PaperPosition', [0 0 10 8.5]);
  colormap (palette);
  for k = 1:4
    subplot (2, 2, k);
    labels = regions.labels{k};
    colour_index = (numel (classes) + 1) * ones (size (labels));
    for c = 1:numel (classes)
      colour_index(labels == classes(c)) = c;
    end
    image (regions.x, regions.y, colour_index);
    axis xy;
    hold on;
    for c = 1:numel (classes)
      members = fix (NLabels) == classes(c);
      style = 1 + mod (c - 1, rows_of (strong));
      plot (Templates(members, 1), Templates(members, 2), markers(style), ...
            'MarkerSize', 4, 'MarkerEdgeColor', strong(style, :), ...
            'MarkerFaceColor', strong(style, :));
    end
    hold off;
    unclassified = sum (labels(:) == regions.unknown_label);
    % One line: gnuplot cannot print multi-line titles.
    title (sprintf ('%d %s, h = %g: %d unclassifiable (grey)', k - 1, ...
                    regions.kernel_names{k}, regions.h, unclassified));
    xlabel (axis_names{1});
    ylabel (axis_names{2});
  end
  if ~isempty (png_file)
    print (figure_handle, '-dpng', '-r100', png_file);
    close (figure_handle);
  end
end

function n = rows_of (matrix)
  n = size (matrix, 1);
end
