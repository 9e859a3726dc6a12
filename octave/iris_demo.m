% Classifies Fisher's Iris data with vendral: every other sample of each
% class is a template, the rest are test patterns.
% Usage: octave-cli --eval "build_dir = 'build'; iris_csv = 'data/iris.csv'; source('octave/iris_demo.m')"
1;
addpath(build_dir);
data = dlmread(iris_csv, ',', 1, 0);
features = data(:, 1:4);
classes = data(:, 5);

is_template = mod((1:rows(data))', 2) == 1;
templates = features(is_template, :);
template_labels = classes(is_template);
patterns = features(~is_template, :);
truth = classes(~is_template);

kernel_type = 0;      % gaussian
norm_type = 2;        % euclidean distance
h = 0.3;              % window width, in centimetres
unknown_label = 0;
oflag = 1;            % print the performance summary
printf('Iris: %d templates, %d test patterns, %d features\n', ...
       rows(templates), rows(patterns), columns(features));
labels = vendral(templates, template_labels, kernel_type, norm_type, h, patterns, ...
                 unknown_label, oflag);
correct = sum(labels == truth);
printf('Accuracy: %d of %d test patterns correct (%.1f%%)\n', correct, numel(truth), ...
       100 * correct / numel(truth));
